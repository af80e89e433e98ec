#include "CExportWriters.h"

#include <cerrno>
#include <cstring>

#include "CKLF_ImagePNG.h"
#include "CKLF_ImagePSD.h"

const char CExportWriters::kProduct[] = "Kelvanos Tessarette 3.0";
const char CExportWriters::kCannotWrite[] = "Cannot write file...";
const char CExportWriters::kErrorTitle[] = "Error!";

namespace {

typedef CExportWriters W;

// The PSD's name field holds 60 characters of a layer's name.
const u32 kNameChars = 60;

void Report(const W::JOB& job, u32 percent) {
  if (job.progress) job.progress->Progress(static_cast<u8>(percent), nullptr);
}

// The system's reason of a failed write stays in errno for the caller.
u8 Alert(const W::JOB& job) {
  const int saved = errno;
  if (job.alert) job.alert(W::kCannotWrite, W::kErrorTitle, job.alertUser);
  errno = saved;
  return 0;
}

// The writer's code goes to the job (fallback when it left none, 0 for a
// cancel). A write failure alerts; a cancel and memory running out do not.
u8 Failed(W::JOB& job, const CKLF_ErrorManager& writer, u16 fallback = 0) {
  job.error = writer.GetError() ? writer.GetError() : fallback;
  return job.error && job.error != klErrNoMemory ? Alert(job) : 0;
}

// The alpha plane with every value times opacity / 255, in the scratch
// block (rows of the layer's stride); null when it cannot be had.
const u8* ScaledAlpha(const W::JOB& job, const W::LAYER& L) {
  const u64 bytes = static_cast<u64>(L.height) * L.stride;
  if (!job.scratch || !klFits32(bytes) ||
      (job.scratch->GetSize() < bytes && !job.scratch->alloc(static_cast<u32>(bytes))))
    return nullptr;
  u8* out = job.scratch->GetPtr();
  for (u32 y = 0; y < L.height; ++y) {
    const u8* a = L.planes[3] + static_cast<u64>(y) * L.stride;
    u8* o = out + static_cast<u64>(y) * L.stride;
    for (u32 x = 0; x < L.width; ++x) o[x] = static_cast<u8>(a[x] * L.opacity / 255);
  }
  return out;
}

}  // namespace

u8 CExportWriters::OnCanvas(const JOB& job, u32 index) {
  if (index >= job.count) return 0;
  const LAYER& L = job.layers[index];
  const i64 x0 = L.x > 0 ? L.x : 0, y0 = L.y > 0 ? L.y : 0;
  const i64 x1 = static_cast<i64>(L.x) + L.width, y1 = static_cast<i64>(L.y) + L.height;
  return x0 < (x1 < job.width ? x1 : job.width) && y0 < (y1 < job.height ? y1 : job.height);
}

u8 CExportWriters::stExportToPSD(CKLF_StdFile* file, void* data) {
  JOB* job = static_cast<JOB*>(data);
  if (!job || !file || job->count < 1 || job->count > kMaxLayers || !job->layers) return 0;
  job->error = 0;
  Report(*job, 40);
  CKLF_ImagePSD psd;
  psd.SetThreads(job->threads);
  const CKLF_ImagePSD::PSDMLWRITE_INITPARAMS doc = {job->width, job->height, 1, job->resolution, 130,
                                                    job->iccSize ? job->icc : nullptr, job->iccSize,
                                                    job->verticalResolution};
  if (!psd.Create(*file) || !psd.Write_Init(&doc)) return Failed(*job, psd, klErrFileWrite);
  Report(*job, 41);
  for (u32 i = 0; i < job->count; ++i) {
    const LAYER& L = job->layers[i];
    CKLF_ImagePSD::PSDMLWRITE_LAYERPARAMS lp = {L.width, L.height, L.x, L.y, L.visible, L.opacity, {}};
    std::memcpy(lp.name, L.name, strnlen(L.name, kNameChars));
    u8* planes[5] = {L.planes[0], L.planes[1], L.planes[2], L.planes[3], nullptr};
    if (!psd.Write_AddLayer(&lp, planes, L.stride)) return Failed(*job, psd, klErrBadArg);
  }
  Report(*job, 43);
  CKLF_SubProgress sub;
  sub.SetMasterProgress(job->progress, 43, 90);
  psd.SetProgress(job->progress ? &sub : nullptr);
  return psd.WritePSD() ? 1 : Failed(*job, psd);
}

u8 CExportWriters::stExportToPNGs(CKLF_StdFile* file, void* data, u32 index) {
  JOB* job = static_cast<JOB*>(data);
  if (!job || !file || job->count < 1 || job->count > kMaxLayers || index >= job->count || !job->layers) return 0;
  job->error = 0;
  const f64 from = 40 + 50.0 * index / job->count, to = 40 + 50.0 * (index + 1) / job->count;
  Report(*job, static_cast<u32>(from));
  const LAYER& L = job->layers[index];
  if (job->fullCanvas && !OnCanvas(*job, index)) return 0;
  CKLF_ImagePNG::PNGWRITE_PARAMS p{};
  p.width = L.width;
  p.height = L.height;
  p.mode = CKLF_ImagePNG::kWriteRGBA;
  for (u32 c = 0; c < 4; ++c) p.planes[c] = L.planes[c];
  p.stride = L.stride;
  p.product = kProduct;
  p.resolution = job->resolution;
  p.verticalResolution = job->verticalResolution;
  p.icc = job->iccSize ? job->icc : nullptr;
  p.iccSize = job->iccSize;
  if (L.opacity < 255) {
    p.planes[3] = const_cast<u8*>(ScaledAlpha(*job, L));
    if (!p.planes[3]) return job->error = klErrNoMemory, 0;
  }
  CKLF_ImagePNG png;
  png.SetThreads(job->threads);
  CKLF_SubProgress sub;
  sub.SetMasterProgress(job->progress, static_cast<i32>(from), static_cast<i32>(to));
  png.SetProgress(job->progress ? &sub : nullptr);
  if (!png.Create(*file)) return Failed(*job, png, klErrFileWrite);
  static const u8 kClear[4] = {255, 255, 255, 0};
  const u8 ok = job->fullCanvas ? png.WritePNGPlaced(&p, job->width, job->height, L.x, L.y, kClear) : png.WritePNG(&p);
  return ok ? 1 : Failed(*job, png);
}
