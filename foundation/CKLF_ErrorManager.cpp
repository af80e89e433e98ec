#include "CKLF_ErrorManager.h"

const char* KLF_ErrorText(u16 code) {
  switch (code) {
    case klErrNone: return "no error";
    case klErrBadArg: return "bad argument or state";
    case klErrEmpty: return "empty or not created";
    case klErrNoMemory: return "out of memory";
    case klErrFileOpen: return "file cannot be opened";
    case klErrFileWrite: return "nothing could be written";
    case klErrFileRead: return "nothing could be read";
    case klErrFileAccess: return "file not opened for this access";
    case klErrFileSeek: return "positioning failed";
    case klErrFileNotOpen: return "file not open";
    case klErrUnsupported: return "unsupported image variant";
    case klErrNotFormat: return "not this image format or too short";
    case klErrZipMalformed: return "compressed block malformed";
    case klErrZipCompress: return "compression failed";
    case klErrZipArgs: return "no source block or bad compression mode";
    case klErrZipProgress: return "progress not supported by the compressed block";
    case klErrMD5NoSource: return "no source block for the digest";
    case klErrMD5Progress: return "progress not supported by the digest";
    case klErrSecureArgs: return "no source block or bad cipher mode";
    case klErrSecureDigest: return "digest of the deciphered data does not match";
    case klErrSecureShort: return "enciphered block too short";
    case klErrSecureProgress: return "progress not supported by the cipher";
    case klErrStoreDigest: return "storage digest does not match";
    case klErrStoreMagic: return "not a storage container or malformed";
    case klErrStoreNoKey: return "key not found";
    case klErrStoreReadOnly: return "storage opened read-only";
    case klErrStoreKeyExists: return "key already exists";
    case klErrStoreNotFolder: return "parent is not a folder";
    case klErrStoreType: return "record is not of the requested type";
    case klErrOffscreen: return "off-screen bitmap cannot be made";
    case klErrWindowCreate: return "window cannot be created";
    case klErrWindowExists: return "window already has its platform window";
    case klErrLayerNotFound: return "window layer not found";
    case klErrNoResources: return "UI resource storage missing";
    case klErrFontRecord: return "bitmap font record malformed";
    case klErrFontChar: return "character outside the font";
    case klErrUIResource: return "UI resource missing or malformed";
    default: return "unknown error";
  }
}
