// One large photo through the photo paths of the jobs, on the embedded engine.
//
//   pv_bench_photos [megabytes] [folder]
//
// A site is uploaded, then a photo of `megabytes` (default 100) is stored
// into a local additional photo, a local resident (Names.photo, declared in
// the middle of its row) and a central resident and a central additional
// photo. Each path is run alone with the peak resident set reset
// before it (/proc/self/clear_refs): the store of a file into a row and the
// read of a row into a file alone, the queued "AdditionalPhotos" change
// (local row -> temp file -> central row), the central "PhotoU" and the
// central "AdditionalPhotos" (central row -> temp file -> local row). Printed
// per path: time, MB/s and the peak resident set above the resident set
// before the path. `folder` is where the site goes (default the system's
// temporary folder; a folder on disk keeps tmpfs pages out of the picture).
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "bench/support/process_memory.h"
#include "photos/photo_files.h"
#include "sync/central_changes.h"
#include "sync/queue_rows.h"
#include "sync/queued_change.h"
#include "tests/support/site.h"

namespace {

using Clock = std::chrono::steady_clock;
using pv::testsite::UploadSite;

using pv::bench::ResetPeakRss;
using pv::bench::StatusMb;

// A file of `bytes` bytes that differ along the file, written in 1 MiB parts.
void WritePhoto(const std::filesystem::path& path, std::size_t bytes) {
  std::ofstream out(path, std::ios::binary);
  std::string part(1 << 20, '\0');
  std::uint32_t x = 12345;
  for (std::size_t done = 0; done < bytes; done += part.size()) {
    for (char& c : part) c = static_cast<char>((x = x * 1103515245u + 12345u) >> 16);
    out.write(part.data(), static_cast<std::streamsize>(std::min(part.size(), bytes - done)));
  }
}

template <typename F>
bool Measure(const char* what, double mb, F&& run) {
  ResetPeakRss();
  const double before = StatusMb("VmRSS:");
  const auto start = Clock::now();
  const bool ok = run();
  const double s = std::chrono::duration<double>(Clock::now() - start).count();
  const double peak = StatusMb("VmHWM:");
  std::printf("%-34s %s %7.2f s %7.1f MB/s  peak RSS %7.1f MB (+%.1f MB over %.1f MB)\n", what,
              ok ? "ok    " : "FAILED", s, mb / s, peak, peak - before, before);
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  const double mb = argc > 1 ? std::atof(argv[1]) : 100.0;
  const auto bytes = static_cast<std::size_t>(mb * 1024 * 1024);
  UploadSite site(true, argc > 2 ? std::filesystem::path(argv[2]) : std::filesystem::path());
  site.local().Execute(pv::testsite::ResidentInsert());
  site.AddInstallations(1);
  if (site.Upload("1") != pv::sync::FullUploadResult::Completed) {
    std::fprintf(stderr, "upload failed\n%s", site.Log().c_str());
    return 1;
  }
  const auto photo = site.root() / "photo.bin";
  WritePhoto(photo, bytes);
  std::printf("photo: %.0f MB, site in %s, RSS at start %.1f MB\n", mb, site.root().c_str(),
              StatusMb("VmRSS:"));

  bool ok = true;
  // Queued: a new local additional photo goes to the central side.
  site.local().Execute("Insert Into AdditionalPhotos (label, resId) Values (N'bench', 1)");
  const auto localId = pv::sync::GetTopID(site.local(), "AdditionalPhotos");
  // The two halves alone: file into a row, row into a file.
  ok &= Measure("store alone (StoreFileInColumn)", mb, [&] {
    return site.local().StoreFileInColumn("AdditionalPhotos", "photo", localId, photo);
  });
  // Columns declared after the photo hold data, as on a site.
  site.local().Execute(
      "Update Names Set photoDescr = N'bench', dmCode = N'1', mailRoomID = 7 Where id = 1");
  ok &= Measure("store alone into Names.photo", mb,
                [&] { return site.local().StoreFileInColumn("Names", "photo", 1, photo); });
  ok &= Measure("read alone (SaveImageToFile)", mb, [&] {
    return pv::photos::SaveImageToFile(site.local(), "AdditionalPhotos", "photo", localId,
                                       site.root() / "read.bin");
  });
  ok &= Measure("queued AdditionalPhotos (to central)", mb, [&] {
    return pv::sync::TransferResDataToCX(
               site, {1, "AdditionalPhotos", 0, static_cast<std::int32_t>(localId)}) ==
           pv::sync::ChangeResult::Uploaded;
  });

  // Central: a resident photo and a new additional photo come to the local side.
  {
    auto inst = site.CentralDb("Installation00001");
    inst->Execute("Insert Into AdditionalPhotos (id, label, resId) Values (-1, N'central', 1)");
    inst->StoreFileInColumn("AdditionalPhotos", "photo", -1, photo);
    inst->StoreFileInColumn("Names", "photo", 1, photo);
    auto home = site.CentralDb();
    home->Execute(
        "Insert Into UpdateQueue (instId, recordId, tableName) Values (1, 1, N'PhotoU'), "
        "(1, 1, N'AdditionalPhotos')");
  }
  ok &= Measure("central PhotoU (to local)", mb, [&] {
    return pv::sync::TransferDataFromCX(site, "1§1§PhotoU§0") ==
           pv::sync::CentralChangeResult::Applied;
  });
  ok &= Measure("central AdditionalPhotos (to local)", mb, [&] {
    return pv::sync::TransferDataFromCX(site, "2§1§AdditionalPhotos§0") ==
           pv::sync::CentralChangeResult::Applied;
  });
  if (!site.logged.empty()) std::printf("log:\n%s", site.Log().c_str());
  return ok ? 0 : 1;
}
