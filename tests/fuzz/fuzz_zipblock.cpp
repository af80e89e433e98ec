// Unpacks untrusted bytes as a compressed block; whatever unpacks must pack
// and unpack back to itself. The same bytes are also deciphered as a cipher
// block, which must fail cleanly or give content matching its digest.
#include <cstdlib>
#include <cstring>

#include "CKLF_SecureBlock.h"
#include "CKLF_ZipBlock.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 0xFFFFFFFFu) return 0;
  CKLF_ZipBlock unpack;
  unpack.SetMode(0);
  unpack.SetSourceBlock(data, static_cast<u32>(size));
  if (unpack.Process()) {
    CKLF_Mem* content = unpack.GetDestBlock();
    if (content->GetSize() > CKLF_ZipBlock::klZipMaxUnpacked) abort();
    if (content->GetSize() > 0) {
      CKLF_ZipBlock pack;
      pack.SetMode(3);
      pack.SetSourceBlock(*content);
      if (!pack.Process()) abort();
      CKLF_ZipBlock again;
      again.SetMode(0);
      again.SetSourceBlock(*pack.GetDestBlock());
      if (!again.Process()) abort();
      if (again.GetDestBlock()->GetSize() != content->GetSize() ||
          std::memcmp(again.GetDestBlock()->GetPtr(), content->GetPtr(), content->GetSize()) != 0)
        abort();
    }
  } else if (unpack.GetError() != klErrZipMalformed && unpack.GetError() != klErrNoMemory) {
    abort();
  }

  CKLF_SecureBlock cipher;
  cipher.SetMode(1);
  cipher.SetPassword(CKLF_String("fuzz"));
  cipher.SetSourceBlock(data, static_cast<u32>(size));
  if (!cipher.Process() && cipher.GetError() != klErrSecureDigest && cipher.GetError() != klErrSecureShort &&
      cipher.GetError() != klErrSecureArgs)
    abort();
  return 0;
}
