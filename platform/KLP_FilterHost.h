/* The filter host interface: the contract between the plug-in and any host
 * that runs it. The host calls the exported entry PluginMain with a
 * selector and a filter record; the record carries the document's facts,
 * the request fields of plane transfers and the host's callbacks. Every
 * callback receives the record's hostContext first, so a host keeps its
 * state without globals. Rectangles are 32-bit (left, top, right, bottom;
 * right and bottom exclusive). Plain C so that a host in any language can
 * serve it. */
#ifndef KLP_FILTERHOST_H
#define KLP_FILTERHOST_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define KLP_FOURCC(a, b, c, d) \
  ((uint32_t)(uint8_t)(a) << 24 | (uint32_t)(uint8_t)(b) << 16 | (uint32_t)(uint8_t)(c) << 8 | (uint32_t)(uint8_t)(d))

/* Selectors of PluginMain. */
enum {
  klpSelectorAbout = 0,
  klpSelectorParameters = 1,
  klpSelectorPrepare = 2,
  klpSelectorStart = 3,
  klpSelectorContinue = 4,
  klpSelectorFinish = 5
};

/* Result codes the plug-in leaves in *result. */
enum {
  klpResNoErr = 0,
  klpResUserCanceled = -128,
  klpResMemFull = -108,
  klpResBadParameters = -30100,
  klpResBadMode = -30101
};

/* imageMode values. */
enum {
  klpModeBitmap = 0,
  klpModeGray = 1,
  klpModeIndexed = 2,
  klpModeRGB = 3,
  klpModeCMYK = 4,
  klpModeHSL = 5,
  klpModeHSB = 6,
  klpModeMultichannel = 7,
  klpModeDuotone = 8,
  klpModeLab = 9
};

/* filterCase values: 0 is a host that gives no case. */
enum {
  klpCaseUnsupported = 0,
  klpCaseFlatNoSelection = 1,
  klpCaseFlatWithSelection = 2,
  klpCaseFloatingSelection = 3,
  klpCaseEditableTransparencyNoSelection = 4,
  klpCaseEditableTransparencyWithSelection = 5,
  klpCaseProtectedTransparencyNoSelection = 6,
  klpCaseProtectedTransparencyWithSelection = 7
};

/* Colour spaces and selectors of the colour services. */
enum { klpSpaceRGB = 0, klpSpaceHSB = 1, klpSpaceCMYK = 2, klpSpaceLab = 3, klpSpaceGray = 4 };
enum { klpColorChoose = 0, klpColorConvert = 1 };

/* playInfo / recordInfo of the descriptor parameters. */
enum { klpDialogDontDisplay = 0, klpDialogDisplay = 1, klpDialogSilent = 2 };

/* Descriptor value types. */
#define KLP_TYPE_INTEGER KLP_FOURCC('l', 'o', 'n', 'g')
#define KLP_TYPE_TEXT KLP_FOURCC('T', 'E', 'X', 'T')

/* Host signature of the reference host, and the property keys. */
#define KLP_SIG_8BIM KLP_FOURCC('8', 'B', 'I', 'M')
#define KLP_PROP_RULER_UNITS KLP_FOURCC('r', 'u', 'l', 'r')
#define KLP_PROP_CHANNEL_COUNT KLP_FOURCC('n', 'u', 'c', 'h')
#define KLP_PROP_CHANNEL_NAME KLP_FOURCC('n', 'm', 'c', 'h')
/* Threads the host lets a filter run (simple); a host without it leaves
 * the choice to the filter. */
#define KLP_PROP_THREADS KLP_FOURCC('n', 't', 'h', 'r')

/* Name and version of the channel-ports suite. */
#define KLP_CHANNELPORTS_SUITE "Photoshop ChannelPorts Suite for Plug-ins"
#define KLP_CHANNELPORTS_VERSION 2

typedef struct KLP_Rect32 {
  int32_t left;
  int32_t top;
  int32_t right;
  int32_t bottom;
} KLP_Rect32;

typedef struct KLP_Point32 {
  int32_t h;
  int32_t v;
} KLP_Point32;

/* Opaque host objects. */
typedef struct KLP_HandleRec* KLP_Handle;
typedef struct KLP_ChannelPortRec* KLP_ChannelPort;
typedef struct KLP_ReadDescRec* KLP_ReadDescriptorRef;
typedef struct KLP_WriteDescRec* KLP_WriteDescriptorRef;

/* Relocatable memory of the host. lockProc returns the bytes (null on
 * failure) until the matching unlockProc. */
typedef struct KLP_HandleProcs {
  KLP_Handle (*newProc)(void* ctx, int32_t size);
  void (*disposeProc)(void* ctx, KLP_Handle h);
  int32_t (*getSizeProc)(void* ctx, KLP_Handle h);
  int16_t (*setSizeProc)(void* ctx, KLP_Handle h, int32_t size);
  char* (*lockProc)(void* ctx, KLP_Handle h, uint8_t moveHigh);
  void (*unlockProc)(void* ctx, KLP_Handle h);
} KLP_HandleProcs;

/* Host properties: a simple property comes back in *simple, a complex one
 * (text) as a new handle the caller disposes. 0 on success. */
typedef struct KLP_PropertyProcs {
  int16_t (*getPropertyProc)(void* ctx, uint32_t signature, uint32_t key, int32_t index, intptr_t* simple,
                             KLP_Handle* complex);
  int16_t (*setPropertyProc)(void* ctx, uint32_t signature, uint32_t key, int32_t index, intptr_t simple,
                             KLP_Handle complex);
} KLP_PropertyProcs;

/* Reading a scripting descriptor: open with a 0-terminated list of the keys
 * the plug-in wants; getKeyProc walks the records (0 at the end); the value
 * readers read the record the walk stands on. A text comes back as a new
 * handle the caller disposes. */
typedef struct KLP_ReadDescriptorProcs {
  KLP_ReadDescriptorRef (*openReadDescriptorProc)(void* ctx, KLP_Handle descriptor, const uint32_t* keys);
  int16_t (*closeReadDescriptorProc)(void* ctx, KLP_ReadDescriptorRef ref);
  uint8_t (*getKeyProc)(void* ctx, KLP_ReadDescriptorRef ref, uint32_t* key, uint32_t* type, int32_t* flags);
  int16_t (*getIntegerProc)(void* ctx, KLP_ReadDescriptorRef ref, int32_t* value);
  int16_t (*getTextProc)(void* ctx, KLP_ReadDescriptorRef ref, KLP_Handle* text);
} KLP_ReadDescriptorProcs;

/* Writing a scripting descriptor: closing hands back a new descriptor
 * handle. 0 on success. */
typedef struct KLP_WriteDescriptorProcs {
  KLP_WriteDescriptorRef (*openWriteDescriptorProc)(void* ctx);
  int16_t (*closeWriteDescriptorProc)(void* ctx, KLP_WriteDescriptorRef ref, KLP_Handle* descriptor);
  int16_t (*putIntegerProc)(void* ctx, KLP_WriteDescriptorRef ref, uint32_t key, int32_t value);
  int16_t (*putTextProc)(void* ctx, KLP_WriteDescriptorRef ref, uint32_t key, KLP_Handle text);
} KLP_WriteDescriptorProcs;

typedef struct KLP_DescriptorParameters {
  int16_t playInfo;
  int16_t recordInfo;
  KLP_Handle descriptor;
  const KLP_WriteDescriptorProcs* writeDescriptorProcs;
  const KLP_ReadDescriptorProcs* readDescriptorProcs;
} KLP_DescriptorParameters;

/* Document and layer information. Bounds are in whole-document pixels. */
typedef struct KLP_ChannelDesc {
  const struct KLP_ChannelDesc* next;
  KLP_ChannelPort port;
  KLP_Rect32 bounds;
  int32_t depth;
  const char* name;
} KLP_ChannelDesc;

typedef struct KLP_LayerDesc {
  const struct KLP_LayerDesc* next;
  int32_t layerID;
  const char* name;
  uint8_t isPixelBased;
  const KLP_ChannelDesc* compositeChannels;
  const KLP_ChannelDesc* transparency;
} KLP_LayerDesc;

typedef struct KLP_DocumentInfo {
  int32_t minVersion;
  int32_t maxVersion;
  int32_t imageMode;
  int32_t depth;
  KLP_Rect32 bounds;
  const KLP_LayerDesc* layers;
  const KLP_ChannelDesc* mergedCompositeChannels;
  const KLP_ChannelDesc* mergedTransparency;
} KLP_DocumentInfo;

/* Destination of a pixel read: depth 8 only, colBytes between samples. */
typedef struct KLP_PixelMemoryDesc {
  void* data;
  int32_t rowBytes;
  int32_t colBytes;
  int32_t depth;
} KLP_PixelMemoryDesc;

typedef struct KLP_ChannelPortsSuite {
  /* Reads rect (whole-document pixels) of the port at level 0 into dest. */
  int16_t (*readPixelsFromLevel)(void* ctx, KLP_ChannelPort port, int32_t level, const KLP_Rect32* rect,
                                 const KLP_PixelMemoryDesc* dest);
} KLP_ChannelPortsSuite;

/* The basic suite hands out the other suites by name and version. */
typedef struct KLP_BasicSuite {
  int32_t (*acquireSuite)(void* ctx, const char* name, int32_t version, const void** suite);
  int32_t (*releaseSuite)(void* ctx, const char* name, int32_t version);
} KLP_BasicSuite;

/* Colour services: convert colorComponents from sourceSpace to resultSpace,
 * or let the user choose a colour (components in and out in resultSpace).
 * 0 on success, klpResUserCanceled when the user cancels the choice,
 * klpResMemFull when the chooser has no memory to show. */
typedef struct KLP_ColorServicesInfo {
  int16_t selector;
  int16_t sourceSpace;
  int16_t resultSpace;
  uint8_t resultGamutInfoValid;
  uint8_t resultInGamut;
  const char* prompt;
  int16_t colorComponents[4];
} KLP_ColorServicesInfo;

typedef struct KLP_FilterRecord {
  void* hostContext;
  uint32_t hostSig;

  /* Services; any may be null. abortProc answers non-zero to stop. */
  uint8_t (*abortProc)(void* ctx);
  void (*progressProc)(void* ctx, int32_t done, int32_t total);
  int16_t (*advanceState)(void* ctx);
  int16_t (*colorServices)(void* ctx, KLP_ColorServicesInfo* info);
  void (*processEvent)(void* ctx, void* event);
  const KLP_HandleProcs* handleProcs;
  const KLP_PropertyProcs* propertyProcs;
  KLP_DescriptorParameters* descriptorParameters;
  const KLP_BasicSuite* basicSuite;
  const KLP_DocumentInfo* documentInfo;
  KLP_Handle parameters;

  /* The document and the layer being filtered. */
  int16_t imageMode;
  int16_t depth;
  KLP_Point32 imageSize;
  KLP_Point32 wholeSize;
  KLP_Point32 floatCoord;
  int32_t imageHRes; /* pixels per inch, 16.16 fixed point */
  int32_t imageVRes;
  int16_t planes;
  int16_t filterCase;
  int16_t inLayerPlanes;
  int16_t inTransparencyMask;
  int16_t inNonLayerPlanes;
  int16_t outLayerPlanes;
  int16_t outTransparencyMask;
  int16_t outNonLayerPlanes;
  uint8_t isFloating;
  uint8_t haveMask;
  uint8_t autoMask;
  uint8_t supportsAbsolute;
  uint8_t wantsAbsolute;
  uint8_t canUseICCProfiles;
  KLP_Handle iCCprofileData;
  int32_t iCCprofileSize;
  KLP_Rect32 filterRect;
  uint8_t foreColor[4];
  uint8_t backColor[4];
  int32_t maxSpace;
  int32_t bufferSpace;

  /* Plane transfers: the plug-in sets the rectangles and plane ranges and
   * calls advanceState; the host fills inData / maskData and offers outData
   * for the rectangle, and takes outData back before it serves the next
   * request and when the call returns. An empty rectangle asks for nothing. */
  KLP_Rect32 inRect;
  int16_t inLoPlane;
  int16_t inHiPlane;
  const void* inData;
  int32_t inRowBytes;
  KLP_Rect32 outRect;
  int16_t outLoPlane;
  int16_t outHiPlane;
  void* outData;
  int32_t outRowBytes;
  KLP_Rect32 maskRect;
  const void* maskData;
  int32_t maskRowBytes;
} KLP_FilterRecord;

/* The exported entry of a plug-in. */
typedef void (*KLP_PluginMainProc)(int16_t selector, KLP_FilterRecord* record, intptr_t* data, int16_t* result);

#define KLP_PLUGIN_ENTRY_NAME "PluginMain"

#ifdef __cplusplus
}
#endif

#endif /* KLP_FILTERHOST_H */
