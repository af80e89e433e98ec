// The triangle mesh core of the surface renderer, shared by CKLF_3D_Surface
// and CKLF_3D_Surface2: vertex, triangle, vertex-normal and mapping arrays,
// the mesh record reader, the transforms, the z-buffer, the list of named
// lights (records owned here, their kind the class's), the quick
// rasterisers (wire grid, flat shading and draft texture mapping into RGBA
// images, smaller z nearer), the frame of the HQ renderers into caller's
// planes, and the shadow blurs and light-space geometry of both classes.
//
// Cost: reading, transforms and vertex normals are one pass over the
// arrays; a quick render is one pass over the triangles plus the pixels of
// those that touch the clip; an HQ render is one pass over the triangles
// per tile of 800 / s pixels plus its samples, with about 24 MB of lists
// at any s. Blocks grow and never shrink between calls.
// Limits: counts are 32-bit and each array must fit a 32-bit block (error
// 17 beyond). A triangle naming a vertex at or past the vertex count is
// skipped by every reader. Screen points saturate at +-2^30; the wire grid
// goes through the framework's 16-bit line drawing and is drawn within
// -32768..32767; HQ destinations hold at most 2^30 samples a side.
#pragma once

#include "CKLF_Array.h"
#include "CKLF_Image.h"
#include "CKLF_Progress.h"

struct KLF_3D_RasterTarget;  // private to the rasterisers
struct KLF_3D_ScreenVertex;
struct KLF_3D_HQFrame;  // private to the HQ renderers
struct KLF_3D_HQTriangle;
struct KLF_3D_HQProgress;
struct KLF_3D_TexelShadowJob;  // private to the shadow code

class CKLF_3D_SurfaceBase : public CKLF_FrameWork {
 public:
  // Vertex indices first, second, third; the flags steer the face normal
  // (bits 4, 2, 1) and the edges the grid draws (bits 4, 2).
  struct TRIMESH {
    u32 v[3];
    u8 flags;
  };
  // One pixel of the clip rectangle; owner is the triangle that wrote it,
  // -1 while empty.
  struct ZBUFFER_ELEMENT {
    f32 depth;
    i32 owner;
  };
  // x, y bounds of the vertices; all four -1e10 without vertices.
  struct OBJECT_BOUNDS {
    f64 minX;
    f64 minY;
    f64 maxX;
    f64 maxY;
  };

  CKLF_3D_SurfaceBase();
  ~CKLF_3D_SurfaceBase() override;
  CKLF_3D_SurfaceBase(const CKLF_3D_SurfaceBase&) = delete;
  CKLF_3D_SurfaceBase& operator=(const CKLF_3D_SurfaceBase&) = delete;

  // ---- mesh ----

  // Sets both counts; leading entries are kept, new ones zero. On failure
  // (17) counts and contents stay as they were.
  u8 Create(u32 vertices, u32 triangles);
  // Reads a big-endian mesh record of length bytes: V, T, V vertices of
  // three (signed mantissa, decimal exponent) pairs, T triangles of three
  // indices and a flags byte. A record shorter than its counts say, with
  // an index at or past V or with the flags 255 (GetMeshVertex's answer
  // for a bad triangle) is refused (49) and the surface stays as it was.
  u8 Create(const u8* record, u64 length);
  // Copies another surface's vertices and triangles (only those): error 1
  // for null.
  u8 Create(const CKLF_3D_SurfaceBase* other);

  u32 GetVertexCount() const { return m_vertexCount; }
  u32 GetTriMeshCount() const { return m_triCount; }
  klt3D_VERTEX* GetVertex(u32 i) const { return i < m_vertexCount ? m_vertices + i : nullptr; }
  TRIMESH* GetTriMesh(u32 i) const { return i < m_triCount ? m_triangles + i : nullptr; }
  // Copies triangle i's vertices and returns its flags; 255 without a copy
  // when i or one of its indices is out of range.
  u8 GetMeshVertex(u32 i, klt3D_VERTEX& p0, klt3D_VERTEX& p1, klt3D_VERTEX& p2) const;
  // Unit face normal (zero out of range or for a degenerate triangle).
  klt3D_VECTOR GetMeshNormal(u32 i) const;
  static klt3D_VECTOR GetMeshNormal(const klt3D_VERTEX* p0, const klt3D_VERTEX* p1, const klt3D_VERTEX* p2, u8 flags);

  // Mean of the unit face normals of the triangles using each vertex, in
  // triangle order, made unit; unused vertices keep their slot.
  u8 PrepareVertexNormalsArray();
  const klt3D_VECTOR* GetVertexNormal(u32 i) const;
  // Mapping (u, v) of each vertex = its current (x, y).
  u8 RecreateMappingArrayFromCurrentValues();
  // Null unless the mapping array holds an entry for every vertex.
  const klt2D_VERTEX* GetMapping(u32 i) const;

  // An empty z-buffer of w x h elements (the block keeps its largest size).
  u8 RecreateZBuffer(u16 w, u16 h);
  const ZBUFFER_ELEMENT* GetZBuffer() const { return m_zBuffer; }
  u16 GetZBufferWidth() const { return m_zWidth; }
  u16 GetZBufferHeight() const { return m_zHeight; }

  // Material shading s sets the cos power 2^(s/20) above 0, 2^(s/50) below.
  void SetMatShading(i16 s);
  i16 GetMatShading() const { return m_matShading; }
  f32 GetCosPower() const { return m_cosPower; }

  // The progress object of the long renders (not owned).
  void SetProgress(CKLF_Progress* p) { m_progress = p; }
  CKLF_Progress* GetProgress() const { return m_progress; }

  // ---- transforms (vertices only, in place) ----

  // Turns about the pivot: by c in x-y, then a in y-z, then b in x-z.
  void Rotate(f32 a, f32 b, f32 c, klt3D_VERTEX pivot);
  // The turn that carries (d.x, -d.y, d.z) onto +z; d along +z or zero
  // changes nothing, d along -z turns half a circle about the x axis.
  void Rotate(klt3D_VECTOR d, klt3D_VERTEX pivot);
  void Offset(f32 dx, f32 dy, f32 dz);
  void OffsetByCenterXY(f32 cx, f32 cy);
  // Moves by (dx, dy), then back inside left..right, top..bottom unless the
  // mesh sticks out on both sides of an axis; the out values (either may be
  // null) get the whole move.
  void OffsetWithCorrectionXY(f32 dx, f32 dy, f32 left, f32 top, f32 right, f32 bottom, f32* outDX, f32* outDY);
  OBJECT_BOUNDS GetObjectBounds() const;
  void Zoom(f32 sx, f32 sy, f32 sz, klt3D_VERTEX pivot);
  // Divides offsets from the pivot by z / d + 1; d = 0, and a vertex where
  // that is 0, stay unmoved.
  void PerspectiveZ(f32 d, klt3D_VERTEX pivot);
  // Shrinks towards the pivot with depth: the nearest vertices keep their
  // place, depth pivot.z collapses onto the pivot.
  void PerspectiveZ_2(klt3D_VERTEX pivot);

  // ---- lights, both kinds ----

  u32 Light_Count() const { return m_lights.GetSize(); }
  // The name of light i, strncpy-like into buf and always terminated
  // there; 0 when i is not below the count.
  u8 Light_GetName(u32 i, char* buf, u32 len) const;
  u8 Light_Delete(const char* name);
  u8 Light_KillAll();
  // The named light's shadow map (width x height bytes), null without one.
  u8* Light_GetShadowMap(const char* name) const;
  // Index of the first light of that name, -1 when none.
  i32 int_Light_GetIDByName(const char* name) const;

  // ---- quick rasterisers (clip klNullRect = whole image) ----

  // Wire grid without hidden lines: error 1 for a null image or empty clip.
  u8 RenderMeshGrid(CKLF_Image* image, i16 dx, i16 dy, kltRECT_s clip, u8 aa, kltRGBA8 colour);
  // Triangles in one of two colours shaded by their turn from the viewer,
  // optionally the mesh edges over them with hidden lines removed (grid
  // alpha 0: none). Error 1 for no RGBA image or an empty clip.
  u8 RenderFlatShadedSurface(CKLF_Image* image, i16 dx, i16 dy, kltRECT_s clip, u8 aa, kltRGBA8 grid, kltRGBA8 front,
                             kltRGBA8 back);
  // The front texture (back texture for faces turned away, under the
  // front's alpha) mapped through the mapping array. Error 1 for no RGBA
  // image, textures not RGBA or of unequal size, no full mapping array or
  // an empty clip.
  u8 RenderDraftTexturedSurface(CKLF_Image* image, i16 dx, i16 dy, CKLF_Image* front, CKLF_Image* back, kltRECT_s clip);

  // ---- HQ renderers: supersampled, transparent, lit ----
  //
  // Planes are 8-bit with a row stride; plane 0 of every group is the
  // alpha (coverage) plane, planes 1 to 4 colour; a render touches planes
  // 0 to count - 1 (count 1 to 5). Each destination pixel is s x s samples;
  // the fragments of a sample are composited front to back. Destination
  // pixels with no sample covered get alpha 0 and keep their colour.
  // Texel coordinates come from the mapping array; a texel outside the
  // texture or of alpha 0 draws nothing.

  // The scan-line state of one render (private to the renderers).
  struct HQ_RENDERER_DATA;
  struct HQ_DESTINATION {
    u8* colour[4];
    u8* alpha;
    u32 stride, width, height;
  };
  // One face side: a solid colour (one byte per colour plane) or texture
  // colour planes 1 to 4.
  struct HQ_SIDE {
    u8 solid;
    const u8* colour;
    const u8* planes[4];
  };
  struct HQ_TEXTURE {
    HQ_SIDE front, back;
    const u8* alpha;  // texture alpha of both sides
    u32 stride, width, height;
  };
  // Height maps addressed by texel; a side bumps when its plane is given and
  // its strength is not 0.
  struct HQ_BUMP {
    const u8* front;
    const u8* back;
    u32 stride;
    f32 frontStrength, backStrength;
  };

  // Shaded by the face normal alone: level 1 - k (1 - z) for the face's z
  // turned to the viewer, k = level / 100, 0 when it faces away.
  // Error 1: s = 0, count outside 1..5, a missing plane, a stride below its
  // width, a destination beyond 2^30 / s samples a side, no full mapping
  // array, or a clip outside the destination. Polls the progress object
  // (cancel: 0 with error 0; tiles already done stay written).
  u8 RenderHQ_Simple(f32 level, u8 s, u8 count, const HQ_DESTINATION& dst, const HQ_TEXTURE& tex, kltRECT_s clip);

  // ---- shadows ----

  // Depth of an occluder at a probed point and its attributes there.
  struct SHADOW_MAP_ZVAL {
    f32 z, a, b, c;
  };
  // Segments a[0]-a[1], b[0]-b[1]: 1 when they meet (ends included), 3 when
  // both lie on one line (overlapping or not), else 0.
  static u8 geom2D_TestLineSegIntersection(const klt2D_VERTEX* a, const klt2D_VERTEX* b);
  // Crossing parity: a point on a right edge is outside, on a left edge in.
  static u8 geom2D_TestPointInTriange(const klt2D_VERTEX* tri, klt2D_VERTEX p);
  static u8 geom2D_TestTriangeTriangleIntersection(const klt2D_VERTEX* a, const klt2D_VERTEX* b);
  // Depth z and attributes of triangle p (x, y) at (x, y), interpolated
  // across the horizontal through y; 0 when the point is not inside.
  static u8 int_ShadowMapTriangleCalc(SHADOW_MAP_ZVAL* out, f32 x, f32 y, const klt3D_VERTEX* p0,
                                      const klt3D_VERTEX* p1, const klt3D_VERTEX* p2, const klt3D_VERTEX* a0,
                                      const klt3D_VERTEX* a1, const klt3D_VERTEX* a2);

  // Blurs of an 8-bit plane of w x h bytes (row stride w), in place.
  // Weights: trunc(255 exp(-d^2 / (2 sigma^2))) out to trunc(3.32 sigma + 1).
  static u32 int_BlurReach(f32 sigma);
  static u8 int_BlurWeight(f32 sigma, u32 d2);
  // Separable Gaussian of normalised byte weights; sigma below 0.5 does
  // nothing. 0 with error 17 when the work plane cannot be had (the plane
  // is left as it was), error 1 for a null plane.
  u8 int_Blur_Const(u8* plane, u32 w, u32 h, f32 sigma);
  // Shadow softened by occluder distance: dist (w x h, caller's) holds the
  // distance at shadowed texels, 0 elsewhere, and is rewritten as radii
  // (near radius at the smallest distance, far at the largest); each
  // shadowed texel spreads its darkness over its radius, in a square kernel
  // (separable 0) or rows then columns. All distances equal, none, or far
  // not above near: the constant blur with the far radius. Cost r^2 per
  // shadowed texel in the square kernel, 2r in the separable form.
  u8 int_Blur_Perspective(u8 separable, u8* plane, u32 w, u32 h, f32 nearR, f32 farR, f32* dist);

 protected:
  // Common part of the two classes' light records.
  struct LIGHT_BASE {
    char name[50];  // at most 49 characters, always terminated
    CKLF_Mem shadowMem;
    u8* shadowMap;
    LIGHT_BASE() : name(), shadowMap(nullptr) {}
    virtual ~LIGHT_BASE() {}
    // The shadow map when its storage holds at least `bytes`, else null.
    u8* MapFor(u64 bytes) const { return shadowMap && shadowMem.GetSize() >= bytes ? shadowMap : nullptr; }
  };

  LIGHT_BASE* i_Light(u32 i) const;
  LIGHT_BASE* i_LightByName(const char* name) const;
  // Names and appends a new record (taking it; deleted on failure).
  u8 i_AddLight(LIGHT_BASE* rec, const char* name);
  // Sizes rec's map to w x h bytes: 1, or 0 with the error set.
  u8 i_ResizeShadowMap(LIGHT_BASE* rec, u32 w, u32 h);
  // A direction a light may have: finite and not zero.
  static bool i_UsableDirection(const klt3D_VECTOR& d);

  // True when the mapping array holds an entry for every vertex.
  bool i_MappingReady() const;

  // The frame shared by every HQ renderer: checks, tiles, fragment pool,
  // merge, resolve, progress.
  u8 i_RenderHQ(const KLF_3D_HQFrame& f);
  // Error 1 unless the frame's arguments are sound.
  u8 i_HQCheck(const KLF_3D_HQFrame& f);
  void int_DrawYLine_HQMapping_Opt_Simple(HQ_RENDERER_DATA* r) const;
  void int_ApplyLight_HQMapping_Opt_Simple(HQ_RENDERER_DATA* r) const;
  // Shadow of this mesh, seen along turn, over the texels of job's targets
  // (the mesh's own triangles, or the quad's). A cancel: 0 with error 0.
  u8 i_TexelShadow(klt3D_VECTOR turn, KLF_3D_TexelShadowJob& job);
  // Reports percent (truncated) to the progress object; false when it
  // answers cancel. Without one: true.
  bool i_ProgressStep(f64 percent);
  // Triangle t's vertices; false when an index is out of range.
  bool i_TriVertices(const TRIMESH& t, const klt3D_VERTEX*& p0, const klt3D_VERTEX*& p1, const klt3D_VERTEX*& p2) const;

  CKLF_Progress* m_progress;
  CKLF_Mem m_vertexMem;
  klt3D_VERTEX* m_vertices;
  u32 m_vertexCount;
  CKLF_Mem m_normalMem;
  klt3D_VECTOR* m_vertexNormals;
  CKLF_Mem m_mappingMem;
  klt2D_VERTEX* m_mapping;
  CKLF_Mem m_triMem;
  TRIMESH* m_triangles;
  u32 m_triCount;
  CKLF_Mem m_zMem;
  ZBUFFER_ELEMENT* m_zBuffer;
  u16 m_zWidth;
  u16 m_zHeight;
  i16 m_matShading;
  f32 m_cosPower;
  CKLF_PtrArray m_lights;

 private:
  u8 i_GrowBlock(CKLF_Mem& block, u64 bytes);
  void i_RefreshPointers();
  u8 i_BeginRender(CKLF_Image* image, kltRECT_s clip, KLF_3D_RasterTarget& g);
  u8 i_RenderHQTile(const KLF_3D_HQFrame& f, HQ_RENDERER_DATA& r, const kltRECT_s& px, KLF_3D_HQProgress& prog);
  bool i_HQTriangle(const KLF_3D_HQFrame& f, HQ_RENDERER_DATA& r, u32 t, KLF_3D_HQTriangle& tri) const;
  void i_HQPerspectiveSetUp(KLF_3D_HQFrame& f) const;
  // Screen points of triangle t; false when an index is out of range or no
  // point lies inside the clip.
  bool i_ScreenTriangle(u32 t, i32 dx, i32 dy, const kltRECT_s& clip, KLF_3D_ScreenVertex* s) const;

  // Mesh edges over a z-buffered image (hidden where another triangle that
  // shares no edge with t owns the pixel).
  void int_DrawMeshLine(const KLF_3D_RasterTarget& g, i32 x0, i32 y0, i32 x1, i32 y1, kltRGBA8 c, u32 t) const;
  void int_DrawAAMeshLine(const KLF_3D_RasterTarget& g, i32 x0, i32 y0, i32 x1, i32 y1, kltRGBA8 c, u32 t) const;
  void int_BlendMeshPixel(const KLF_3D_RasterTarget& g, i64 x, i64 y, kltRGBA8 c, u32 t) const;
  void int_BlendAAMeshPixel(const KLF_3D_RasterTarget& g, i64 x, i64 y, u8 acrossX, f64 dPrev, f64 dSelf, f64 dNext,
                            kltRGBA8 c, u32 t) const;
  bool i_MeshPixelVisible(const KLF_3D_RasterTarget& g, i64 x, i64 y, u32 t) const;

  // Scan conversion with the z-buffer: rows from the top point down to the
  // last row above the bottom point, each span without its right end.
  void int_FillTriangle(const KLF_3D_RasterTarget& g, const KLF_3D_ScreenVertex* p, kltRGBA8 c, u32 t) const;
  void int_DrawYLine(const KLF_3D_RasterTarget& g, i32 y, i32 xl, i32 xr, f32 zl, f32 zr, kltRGBA8 c, u32 t) const;
  void int_FillTriangle_DraftMapping_Simple(const KLF_3D_RasterTarget& g, const KLF_3D_ScreenVertex* p, u32 t) const;
  void int_DrawYLine_DraftMapping_Simple(const KLF_3D_RasterTarget& g, i32 y, i32 xl, i32 xr, f32 zl, f32 zr,
                                         u32 t) const;
  void int_FillTriangle_DraftMapping_Transformed(const KLF_3D_RasterTarget& g, const KLF_3D_ScreenVertex* p,
                                                 u32 t) const;
  void int_DrawYLine_DraftMapping_Transformed(const KLF_3D_RasterTarget& g, i32 y, i32 xl, i32 xr, f32 zl, f32 zr,
                                              f32 ul, f32 vl, f32 ur, f32 vr, u32 t) const;
};
