// `ravelon store`: looks into a store folder without an engine, through the
// public store reader only.
//
//   ravelon store ls FOLDER [--json]
//   ravelon store verify FOLDER [SET...]
//   ravelon store export FOLDER [--from TIME] [--to TIME] (--out DIR | --stdout [--with-texts])
//   ravelon store sheet FOLDER [--from TIME] [--to TIME] --out FILE.jpg
//                      [--columns N] [--count N] [--width W]
//
// The work is done by functions over a FileSystem (store_listing.h,
// store_verify.h, frame_export.h, contact_sheet.h); this file is the command
// line around them, on the real file system.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "cli/command.h"
#include "ravelon/file_system.h"
#include "store/contact_sheet.h"
#include "store/frame_export.h"
#include "store/stamp_text.h"
#include "store/store_folder.h"
#include "store/store_listing.h"
#include "store/store_verify.h"

namespace ravelon::cli {
namespace {

constexpr const char* kFolderHelp =
    "the store's folder (the engine's DBPath), or folder and name prefix when DBPath had one";
constexpr const char* kTimeFooter =
    "TIME is YYYY-MM-DD[ HH:MM[:SS[.mmm]]], 'T' may replace the space. --from and --to are "
    "both included and default to the first and last frame; a --to given to the day, minute or "
    "second includes all of it.";

void WriteOut(std::string_view bytes) {
  if (std::fwrite(bytes.data(), 1, bytes.size(), stdout) != bytes.size()) {
    throw CommandError(std::string("cannot write to standard output: ") + std::strerror(errno));
  }
}

std::string Plural(int64_t n, const char* word) {
  return std::to_string(n) + " " + word + (n == 1 ? "" : "s");
}

void Warn(const std::string& text) { std::fprintf(stderr, "ravelon: %s\n", text.c_str()); }

struct StoreOptions {
  std::string folder;
  bool json = false;
  std::vector<std::string> set_names;
  std::string from, to, out;
  bool to_stdout = false;
  bool with_texts = false;
  SheetOptions sheet;

  StampRange Range() const {
    StampRange range;
    if (!from.empty()) range.from = ParseStampArgument(from, false, "--from");
    if (!to.empty()) range.to = ParseStampArgument(to, true, "--to");
    if (range.from > range.to) throw CommandError("--from is after --to");
    return range;
  }
};

int List(const StoreOptions& o) {
  const std::unique_ptr<FileSystem> files = NewPosixFileSystem();
  const StoreFolder store = ResolveStoreFolder(*files, o.folder);
  const std::vector<SetListing> listing = ReadListing(*files, store);
  WriteOut(o.json ? FormatListingJson(store, listing) : FormatListing(store, listing));
  return kExitOk;
}

int Verify(const StoreOptions& o) {
  const std::unique_ptr<FileSystem> files = NewPosixFileSystem();
  const StoreFolder store = ResolveStoreFolder(*files, o.folder);
  std::vector<FileSetInfo> sets = ListStoreSets(*files, store);
  if (!o.set_names.empty()) {
    std::vector<FileSetInfo> chosen;
    for (const std::string& name : o.set_names) {
      const auto found = std::find_if(sets.begin(), sets.end(),
                                      [&name](const FileSetInfo& set) { return set.name == name; });
      if (found == sets.end()) throw CommandError("no file set " + name + " in " + o.folder);
      chosen.push_back(*found);
    }
    sets = std::move(chosen);
  }
  int damaged = 0;
  for (const FileSetInfo& set : sets) {
    const SetVerdict verdict = VerifyFileSet(*files, store, set);
    std::string text = set.name + ": ";
    if (verdict.Sound()) {
      text += "sound (" + Plural(verdict.segments, "segment") + ", " +
              Plural(verdict.frames, "frame") + ")\n";
    } else {
      ++damaged;
      text += "damaged, " + Plural(verdict.problem_count, "problem") + "\n";
      for (const StoreProblem& problem : verdict.problems) {
        text += "  " + FormatProblem(set.name, problem) + "\n";
      }
      const int64_t unlisted = verdict.problem_count - std::ssize(verdict.problems);
      if (unlisted > 0) text += "  ... and " + std::to_string(unlisted) + " more\n";
    }
    WriteOut(text);
  }
  WriteOut(Plural(std::ssize(sets), "file set") + " checked, " +
           (damaged == 0 ? std::string("all sound") : std::to_string(damaged) + " damaged") + "\n");
  return damaged == 0 ? kExitOk : kExitFailure;
}

int Export(const StoreOptions& o) {
  if (o.out.empty() == !o.to_stdout) throw CommandError("give --out DIR or --stdout");
  if (o.with_texts && !o.to_stdout) throw CommandError("--with-texts goes with --stdout");
  const StampRange range = o.Range();
  const std::unique_ptr<FileSystem> files = NewPosixFileSystem();
  const StoreFolder store = ResolveStoreFolder(*files, o.folder);
  const std::vector<FileSetInfo> sets = ListStoreSets(*files, store);
  const ExportCounts counts =
      o.to_stdout ? ExportMultipart(*files, store, sets, range, o.with_texts, WriteOut)
                  : ExportToFolder(*files, store, sets, range, *files, o.out);
  if (o.to_stdout && std::fflush(stdout) != 0) {
    throw CommandError(std::string("cannot write to standard output: ") + std::strerror(errno));
  }
  const std::string damage = counts.walk.DescribeDamage();
  if (!damage.empty()) Warn(damage);
  const std::string where = range.Describe();
  if (counts.Exported() == 0) {
    throw CommandError("nothing exported: no readable frames in " + o.folder +
                       (where.empty() ? "" : " " + where));
  }
  const std::string summary = "exported " + Plural(counts.pictures, "picture") + " and " +
                              Plural(counts.texts, "text") + (o.to_stdout ? "" : " to " + o.out) +
                              "\n";
  if (o.to_stdout) {
    std::fputs(summary.c_str(), stderr);
  } else {
    WriteOut(summary);
  }
  return kExitOk;
}

int Sheet(const StoreOptions& o) {
  CheckSheetOptions(o.sheet);
  const StampRange range = o.Range();
  const std::unique_ptr<FileSystem> files = NewPosixFileSystem();
  const StoreFolder store = ResolveStoreFolder(*files, o.folder);
  const SheetResult sheet =
      MakeContactSheet(*files, store, ListStoreSets(*files, store), range, o.sheet);
  const std::string damage = sheet.walk.DescribeDamage();
  if (!damage.empty()) Warn(damage);
  for (const std::string& tile : sheet.grey_tiles) Warn("grey tile for " + tile);
  std::unique_ptr<RandomAccessFile> file;
  std::string error;
  if (files->Open(o.out, FileSystem::OpenMode::kCreateTruncate, file, error) != 0 ||
      file->WriteAt(0, sheet.jpeg, error) != 0) {
    throw CommandError("cannot write " + o.out + ": " + error);
  }
  WriteOut("wrote " + o.out + ": " + std::to_string(sheet.tiles) + " thumbnails, " +
           std::to_string(sheet.width) + "x" + std::to_string(sheet.height) + " pixels\n");
  return kExitOk;
}

// Adds the subcommand `name` whose action runs `run` with the options.
CLI::App* AddAction(CLI::App& store, Action& action, const std::shared_ptr<StoreOptions>& options,
                    const char* name, const char* description, int (*run)(const StoreOptions&)) {
  CLI::App* command = store.add_subcommand(name, description);
  command->add_option("folder", options->folder, kFolderHelp)->required()->type_name("FOLDER");
  command->callback([&action, options, run] { action = [options, run] { return run(*options); }; });
  return command;
}

void AddRange(CLI::App& command, StoreOptions& options) {
  command.add_option("--from", options.from, "the first moment")->type_name("TIME");
  command.add_option("--to", options.to, "the last moment")->type_name("TIME");
}

}  // namespace

void AddStoreCommand(CLI::App& app, Action& action) {
  auto options = std::make_shared<StoreOptions>();
  CLI::App* store = app.add_subcommand(
      "store", "Lists, checks and exports the file sets of a store folder, without an engine");
  store->require_subcommand(1);

  CLI::App* ls =
      AddAction(*store, action, options, "ls", "Lists the file sets and their segments", List);
  ls->add_flag("--json", options->json, "print JSON instead of text");

  CLI::App* verify = AddAction(*store, action, options, "verify",
                               "Checks file sets; exits with 1 when one is damaged", Verify);
  verify
      ->add_option("set", options->set_names,
                   "only these file sets (names of twelve digits, YYMMDDHHMMSS)")
      ->type_name("SET");
  verify->footer(
      "Checks that every frame a segment names has an index record that was written and lies "
      "inside .bin, that segments neither run backwards nor overlap, that stamps never decrease "
      "and that each segment starts with its first frame's stamp. Prints each problem with its "
      "set, segment and frame.");

  CLI::App* exporter =
      AddAction(*store, action, options, "export",
                "Writes the frames of a time range out as files or as a stream", Export);
  AddRange(*exporter, *options);
  CLI::Option* out =
      exporter
          ->add_option(
              "--out", options->out,
              "a new or empty folder for NNNNNN.jpg pictures, NNNNNN.txt texts and event texts, "
              "NNNNNN.evl event lists (the engine's binary form) and index.tsv (stamp, file, type, "
              "motion, set, frame)")
          ->type_name("DIR");
  CLI::Option* to_stdout = exporter->add_flag(
      "--stdout", options->to_stdout,
      "write one multipart/x-mixed-replace stream of the pictures to standard output (boundary "
      "ravelonframe, an X-Stamp header per part); players read it, e.g. ffmpeg -f mpjpeg -i -");
  out->excludes(to_stdout);
  exporter->add_flag("--with-texts", options->with_texts,
                     "with --stdout: texts and events too, as parts of their own content types");
  exporter->footer(std::string(kTimeFooter) +
                   "\nDamaged records are skipped and counted on standard error. The exit status "
                   "is 0 when at least one frame was exported, 1 when none was (nothing in the "
                   "range, or all of it unreadable).");

  CLI::App* sheet =
      AddAction(*store, action, options, "sheet",
                "Makes one JPEG contact sheet of evenly spaced pictures of a range", Sheet);
  AddRange(*sheet, *options);
  sheet->add_option("--out", options->out, "the JPEG file to write")->required()->type_name("FILE");
  sheet->add_option("--columns", options->sheet.columns, "thumbnails per row")
      ->capture_default_str();
  sheet->add_option("--count", options->sheet.count, "thumbnails at most")->capture_default_str();
  sheet->add_option("--width", options->sheet.width, "width of each thumbnail in pixels")
      ->capture_default_str();
  sheet->footer(std::string(kTimeFooter) +
                "\nEach thumbnail is labelled with its stamp; a picture that cannot be read or "
                "decoded becomes a grey tile (listed on standard error), never a failure of the "
                "sheet.");
}

}  // namespace ravelon::cli
