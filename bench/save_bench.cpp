// The cost of saving, in interleaved rounds on the real disk (a temporary
// folder under /tmp, or --folder), printing medians and ratios:
//
// - Disk: a store writer with the sync setting on saves runs of 50 KB frames
//   (one ForcedSave per run, as a host saving once a second does); the same
//   bytes are written with one plain `write` and one `fdatasync` per run into
//   a file of the same folder. Throughput of each and their ratio.
// - CPU: the engine's receiving side on one thread (64 KiB socket reads from a
//   loopback TCP connection that a feeder thread fills, the stream reader, the
//   frame pipeline and its save queue), with the queue dropped after each run
//   (no saving) or saved by a store writer (sync on, and off). CPU seconds of
//   that thread per GB, and the ratio of saving to no saving. Also the part
//   of it spent in the save runs themselves, and the ratio that part gives:
//   while a run waits for the disk the feeder fills the loopback connection,
//   and the receiving thread then pays for the feeder's transmission too
//   (its acknowledgements push the feeder's queued segments), a cost a
//   camera on the network does not put on the recorder.
//
//   save_bench [--rounds 7] [--megabytes 64] [--frames-per-run 25] [--frame-kb 50]
//              [--folder /tmp]
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <functional>
#include <memory>
#include <numeric>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "common/date_time.h"
#include "common/engine_limits.h"
#include "parsing/stream_reader.h"
#include "pipeline/frame_pipeline.h"
#include "pipeline/save_queue.h"
#include "platform/system_clock.h"
#include "ravelon/file_system.h"
#include "ravelon/media_frame.h"
#include "schedule/rate_statistics.h"
#include "store/store_writer.h"

namespace {

constexpr char kResponseHeader[] =
    "HTTP/1.0 200 OK\r\nContent-Type: multipart/x-mixed-replace; boundary=myboundary\r\n\r\n";
constexpr size_t kReadSize = 65'536;

struct Options {
  int rounds = 7;
  int64_t megabytes = 64;  // per mode and round
  int frames_per_run = 25;
  size_t frame_bytes = 50 * 1024;
  std::string folder = "/tmp";
};

[[noreturn]] void Fail(const std::string& what) {
  std::fprintf(stderr, "save_bench: %s: %s\n", what.c_str(), std::strerror(errno));
  std::exit(1);
}

double Seconds(std::chrono::steady_clock::duration d) {
  return std::chrono::duration<double>(d).count();
}

double ThreadCpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const size_t n = values.size();
  return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// JPEG-like bytes (random from a fixed seed between SOI and EOI).
std::string Image(size_t bytes, uint32_t seed) {
  std::mt19937 random(seed);
  std::string image(bytes, '\0');
  for (char& c : image) c = static_cast<char>(random());
  image[0] = '\xff', image[1] = '\xd8';
  image[bytes - 2] = '\xff', image[bytes - 1] = '\xd9';
  return image;
}

class QuietOwner final : public ravelon::StoreWriterOwner, public ravelon::FramePipelineOwner {
 public:
  void OnNewFileSet(const std::string&, double) override {}
  void OnSegmentRestart() override {}
  bool SavingAllowed() const override { return true; }
  void Debug(uint8_t, const std::string&) override {}
};

// A store writer on its own folder under `parent`, saving every frame.
struct Store {
  Store(const std::string& parent, bool sync) : folder(parent + "/store-XXXXXX") {
    if (mkdtemp(folder.data()) == nullptr) Fail("mkdtemp " + folder);
    ravelon::StoreSettings& s = writer.Settings();
    s.dbPath = folder + "/";
    s.doSave = true;
    s.saveInterval = ravelon::kMinIntervalMs;
    s.fileSizeLimit = ravelon::kMaxLimitSetting;
    s.preAllocationSize = 16;
    s.syncWrites = sync;
    writer.Prepare();
  }
  ~Store() {
    writer.Close();
    std::filesystem::remove_all(folder);
  }
  int32_t Save() { return writer.ForcedSave(queue, true); }

  std::string folder;
  std::unique_ptr<ravelon::FileSystem> files = ravelon::NewPosixFileSystem();
  ravelon::SystemClock clock;
  ravelon::RateStatistics rates{clock};
  QuietOwner owner;
  ravelon::StoreWriter writer{*files, clock, rates, owner};
  ravelon::SaveQueue queue;
};

// Bytes per second and CPU seconds per GB of the calling thread.
struct DiskFigures {
  double rate = 0;
  double cpu_per_gb = 0;
};

DiskFigures Figures(double bytes, std::chrono::steady_clock::duration spent, double cpu) {
  return {bytes / Seconds(spent), cpu / (bytes / 1e9)};
}

// The store writer (sync on) saving `runs` runs of frames.
DiskFigures StoreThroughput(const Options& o, int64_t runs,
                            const std::vector<std::string>& images) {
  Store store(o.folder, true);
  double date = 0, time = 0;
  std::chrono::steady_clock::duration spent{};
  double cpu = 0;
  int64_t saved = 0;
  for (int64_t run = 0; run < runs; ++run) {
    for (int i = 0; i < o.frames_per_run; ++i) {
      auto frame = std::make_shared<ravelon::MediaFrame>();
      frame->SetData(ravelon::kJpeg, images[static_cast<size_t>(i) % images.size()]);
      ravelon::GetNowDateTime(store.clock, date, time);
      frame->setDate(date);
      frame->setTime(time);
      store.queue.Offer(frame);
    }
    const auto start = std::chrono::steady_clock::now();
    const double cpu_start = ThreadCpuSeconds();
    saved += store.Save();
    cpu += ThreadCpuSeconds() - cpu_start;
    spent += std::chrono::steady_clock::now() - start;
  }
  if (saved != runs * o.frames_per_run) Fail("frames were not saved");
  return Figures(static_cast<double>(saved) * static_cast<double>(o.frame_bytes), spent, cpu);
}

// One `write` and one `fdatasync` per run of the same bytes.
DiskFigures PlainThroughput(const Options& o, int64_t runs,
                            const std::vector<std::string>& images) {
  const std::string path = o.folder + "/plain-" + std::to_string(getpid());
  const int fd = open(path.c_str(), O_CREAT | O_WRONLY | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) Fail("open " + path);
  std::string run_bytes;
  std::chrono::steady_clock::duration spent{};
  double cpu = 0;
  for (int64_t run = 0; run < runs; ++run) {
    run_bytes.clear();  // gathered outside the timing, as the frames are queued outside it above
    for (int i = 0; i < o.frames_per_run; ++i)
      run_bytes += images[static_cast<size_t>(i) % images.size()];
    const auto start = std::chrono::steady_clock::now();
    const double cpu_start = ThreadCpuSeconds();
    if (write(fd, run_bytes.data(), run_bytes.size()) != static_cast<ssize_t>(run_bytes.size()))
      Fail("write");
    if (fdatasync(fd) != 0) Fail("fdatasync");
    cpu += ThreadCpuSeconds() - cpu_start;
    spent += std::chrono::steady_clock::now() - start;
  }
  close(fd);
  unlink(path.c_str());
  return Figures(static_cast<double>(runs) * static_cast<double>(run_bytes.size()), spent, cpu);
}

// A loopback TCP connection: the accepted end and the connected end.
std::pair<int, int> LoopbackPair() {
  const int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (listener < 0 || bind(listener, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
      listen(listener, 1) != 0 ||
      getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    Fail("listen");
  }
  const int client = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (client < 0 || connect(client, reinterpret_cast<sockaddr*>(&address), length) != 0)
    Fail("connect");
  const int server = accept(listener, nullptr, nullptr);
  if (server < 0) Fail("accept");
  close(listener);
  return {server, client};
}

enum class Saving { kNone, kSyncOff, kSyncOn };

// CPU seconds per GB of the receiving thread: in all (socket reads, stream
// reader, frame pipeline, and after every run of frames either dropping the
// queue or saving it), and in the save runs alone.
struct ReceiveFigures {
  double cpu_per_gb = 0;
  double saving_cpu_per_gb = 0;
};

ReceiveFigures ReceiveCpuPerGB(const Options& o, int64_t runs, const std::string& cycle,
                               Saving saving) {
  const auto [server, client] = LoopbackPair();
  const int64_t total = runs * o.frames_per_run / 64 * static_cast<int64_t>(cycle.size());
  std::thread feeder([server = server, total, &cycle] {
    for (int64_t sent = 0; sent < total;) {
      const size_t n = static_cast<size_t>(std::min<int64_t>(total - sent, cycle.size()));
      if (write(server, cycle.data(), n) != static_cast<ssize_t>(n)) Fail("send");
      sent += static_cast<int64_t>(n);
    }
    close(server);
  });

  std::unique_ptr<Store> store;
  if (saving != Saving::kNone) store = std::make_unique<Store>(o.folder, saving == Saving::kSyncOn);
  ravelon::SystemClock clock;
  ravelon::SaveQueue scratch_queue;
  ravelon::SaveQueue& queue = store ? store->queue : scratch_queue;
  ravelon::RateStatistics rates(clock);
  QuietOwner owner;
  ravelon::FramePipeline pipeline(clock, queue, rates, owner);
  pipeline.StartConnection();
  ravelon::StreamReader reader;
  reader.Append(kResponseHeader);
  if (!reader.TakeResponseHeader()) Fail("response header");

  const double cpu_start = ThreadCpuSeconds();
  std::string buffer(kReadSize, '\0');
  std::shared_ptr<ravelon::MediaFrame> frame;
  int64_t received = 0, frames = 0;
  double saving_cpu = 0;
  const auto save = [&] {
    const double start = ThreadCpuSeconds();
    store->Save();
    saving_cpu += ThreadCpuSeconds() - start;
  };
  for (;;) {
    const ssize_t got = read(client, buffer.data(), buffer.size());
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) Fail("recv");
    if (got == 0) break;
    received += got;
    reader.Append(std::string_view(buffer.data(), static_cast<size_t>(got)));
    while (reader.TakePart(frame) != ravelon::StreamReader::kNoPart) {
      pipeline.HandleNewFrame(frame);
      if (++frames % o.frames_per_run != 0) continue;
      if (store) {
        save();
      } else {
        queue.Clear();
      }
    }
  }
  if (store) save();
  const double cpu = ThreadCpuSeconds() - cpu_start;
  feeder.join();
  close(client);
  if (received != total) Fail("short stream");
  const double gigabytes = static_cast<double>(received) / 1e9;
  return {cpu / gigabytes, saving_cpu / gigabytes};
}

// 64 parts of JPEG-like bodies of `bytes` each.
std::string MakeCycle(size_t bytes) {
  std::string cycle;
  for (uint32_t i = 0; i < 64; ++i) {
    cycle +=
        "--myboundary\r\nContent-Type: image/jpeg\r\nContent-Length: " + std::to_string(bytes) +
        "\r\n\r\n" + Image(bytes, i) + "\r\n";
  }
  return cycle;
}

Options Parse(int argc, char** argv) {
  Options o;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string name = argv[i], value = argv[i + 1];
    if (name == "--rounds")
      o.rounds = std::stoi(value);
    else if (name == "--megabytes")
      o.megabytes = std::stoll(value);
    else if (name == "--frames-per-run")
      o.frames_per_run = std::stoi(value);
    else if (name == "--frame-kb")
      o.frame_bytes = std::stoul(value) * 1024;
    else if (name == "--folder")
      o.folder = value;
    else
      Fail("unknown option " + name);
  }
  return o;
}

}  // namespace

int main(int argc, char** argv) {
  const Options o = Parse(argc, argv);
  const int64_t run_bytes = int64_t{o.frames_per_run} * static_cast<int64_t>(o.frame_bytes);
  // At least the megabytes asked, in whole cycles of 64 parts for the receiving side.
  const int64_t step = 64 / std::gcd(64, o.frames_per_run);
  const int64_t runs =
      std::max<int64_t>(1,
                        (o.megabytes * ravelon::kMegabyte + run_bytes - 1) / run_bytes + step - 1) /
      step * step;
  std::vector<std::string> images;
  for (uint32_t i = 0; i < 8; ++i) images.push_back(Image(o.frame_bytes, i));
  const std::string cycle = MakeCycle(o.frame_bytes);

  std::vector<double> store_rate, plain_rate, ratio_disk, store_cpu, plain_cpu, cpu_none, cpu_off,
      cpu_on, ratio_on, ratio_off, runs_on, runs_off, runs_ratio_on, runs_ratio_off;
  for (int round = 0; round < o.rounds; ++round) {
    // Alternating the order keeps a drift of the machine's load out of the ratios.
    const bool store_first = round % 2 == 0;
    DiskFigures store, plain;
    if (store_first) store = StoreThroughput(o, runs, images);
    plain = PlainThroughput(o, runs, images);
    if (!store_first) store = StoreThroughput(o, runs, images);
    const double s = store.rate, p = plain.rate;
    store_rate.push_back(s / 1e6);
    plain_rate.push_back(p / 1e6);
    ratio_disk.push_back(s / p);
    store_cpu.push_back(store.cpu_per_gb);
    plain_cpu.push_back(plain.cpu_per_gb);

    const double none = ReceiveCpuPerGB(o, runs, cycle, Saving::kNone).cpu_per_gb;
    const ReceiveFigures sync_on = ReceiveCpuPerGB(o, runs, cycle, Saving::kSyncOn);
    const ReceiveFigures sync_off = ReceiveCpuPerGB(o, runs, cycle, Saving::kSyncOff);
    const double on = sync_on.cpu_per_gb, off = sync_off.cpu_per_gb;
    runs_on.push_back(sync_on.saving_cpu_per_gb);
    runs_off.push_back(sync_off.saving_cpu_per_gb);
    runs_ratio_on.push_back((none + sync_on.saving_cpu_per_gb) / none);
    runs_ratio_off.push_back((none + sync_off.saving_cpu_per_gb) / none);
    cpu_none.push_back(none);
    cpu_on.push_back(on);
    cpu_off.push_back(off);
    ratio_on.push_back(on / none);
    ratio_off.push_back(off / none);
    std::printf(
        "round %d: store %.0f MB/s %.3f s/GB, write+fdatasync %.0f MB/s %.3f s/GB (%.2f); "
        "receiving CPU s/GB: no saving %.3f, sync on %.3f (%.2f x; save runs %.3f), "
        "sync off %.3f (%.2f x; save runs %.3f)\n",
        round + 1, s / 1e6, store.cpu_per_gb, p / 1e6, plain.cpu_per_gb, s / p, none, on, on / none,
        sync_on.saving_cpu_per_gb, off, off / none, sync_off.saving_cpu_per_gb);
    std::fflush(stdout);
  }
  std::printf("\n%d rounds of %lld runs of %d frames of %zu bytes (%.1f MB per mode), in %s\n",
              o.rounds, static_cast<long long>(runs), o.frames_per_run, o.frame_bytes,
              static_cast<double>(runs * run_bytes) / 1e6, o.folder.c_str());
  std::printf("median store writer, sync on:   %8.1f MB/s, CPU %.3f s/GB\n", Median(store_rate),
              Median(store_cpu));
  std::printf("median write + fdatasync:       %8.1f MB/s, CPU %.3f s/GB\n", Median(plain_rate),
              Median(plain_cpu));
  std::printf("median ratio store / plain:     %8.2f\n", Median(ratio_disk));
  std::printf("median CPU s/GB, no saving:     %8.3f\n", Median(cpu_none));
  std::printf("median CPU s/GB, saving sync on:  %6.3f  (ratio %.2f)\n", Median(cpu_on),
              Median(ratio_on));
  std::printf("median CPU s/GB, saving sync off: %6.3f  (ratio %.2f)\n", Median(cpu_off),
              Median(ratio_off));
  std::printf("median CPU s/GB in save runs, sync on:  %6.3f  (no saving + runs: ratio %.2f)\n",
              Median(runs_on), Median(runs_ratio_on));
  std::printf("median CPU s/GB in save runs, sync off: %6.3f  (no saving + runs: ratio %.2f)\n",
              Median(runs_off), Median(runs_ratio_off));
  return 0;
}
