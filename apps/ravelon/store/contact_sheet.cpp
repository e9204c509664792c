#include "store/contact_sheet.h"

#include <algorithm>

#include "cli/command.h"
#include "ravelon/media_frame.h"
#include "store/bitmap_font.h"
#include "store/even_sample.h"
#include "store/jpeg_codec.h"

namespace ravelon::cli {
namespace {

constexpr Rgb kBackground{32, 32, 32};
constexpr Rgb kGreyTile{128, 128, 128};
constexpr Rgb kLabelColor{230, 230, 230};
constexpr int kGap = 4;           // pixels around and between tiles
constexpr int kLabelPadding = 2;  // above and below the stamp
constexpr int kSheetQuality = 85;
constexpr int kMaxJpegSide = 65'535;  // the JPEG format's limit on width and height

// Where everything goes on the sheet.
struct SheetLayout {
  int columns = 0, rows = 0;
  int thumb_width = 0, thumb_height = 0;
  int label_scale = 1;
  int TileHeight() const { return thumb_height + kGlyphHeight * label_scale + 2 * kLabelPadding; }
  int Width() const { return columns * (thumb_width + kGap) + kGap; }
  int Height() const { return rows * (TileHeight() + kGap) + kGap; }
  int X(int tile) const { return kGap + (tile % columns) * (thumb_width + kGap); }
  int Y(int tile) const { return kGap + (tile / columns) * (TileHeight() + kGap); }
};

// The thumbnails take the shape of the first picture that decodes (4:3 when
// none does), kept between 4:1 and 1:2 so that an odd frame cannot stretch
// the sheet.
SheetLayout Layout(const SheetOptions& options, int tiles, const RgbImage* first) {
  SheetLayout layout;
  layout.columns = std::min(options.columns, tiles);
  layout.rows = (tiles + layout.columns - 1) / layout.columns;
  layout.thumb_width = options.width;
  const int64_t height = first != nullptr ? int64_t{options.width} * first->height / first->width
                                          : options.width * 3 / 4;
  layout.thumb_height =
      static_cast<int>(std::clamp<int64_t>(height, options.width / 4, int64_t{options.width} * 2));
  const int label_width = TextWidth(FormatStamp(20000101, 0), 1);
  layout.label_scale = std::clamp(options.width / label_width, 1, 4);
  return layout;
}

// Draws `picture` as large as fits the thumbnail area of `tile`, centred.
void DrawThumbnail(RgbImage& sheet, const SheetLayout& layout, int tile, const RgbImage& picture) {
  const double scale = std::min(double{1} * layout.thumb_width / picture.width,
                                double{1} * layout.thumb_height / picture.height);
  const int w = std::clamp(static_cast<int>(picture.width * scale + 0.5), 1, layout.thumb_width);
  const int h = std::clamp(static_cast<int>(picture.height * scale + 0.5), 1, layout.thumb_height);
  sheet.DrawScaled(picture, layout.X(tile) + (layout.thumb_width - w) / 2,
                   layout.Y(tile) + (layout.thumb_height - h) / 2, w, h);
}

// The stamp under the thumbnail; under a narrow one, only the time of day,
// or as much of its end as fits.
void DrawLabel(RgbImage& sheet, const SheetLayout& layout, int tile, const SheetCandidate& c) {
  std::string label = FormatStamp(c.date, c.time);
  const int room = (layout.thumb_width - kLabelPadding) / (kGlyphAdvance * layout.label_scale);
  if (std::ssize(label) > room) label = label.substr(label.rfind(' ') + 1);
  if (std::ssize(label) > room) label = label.substr(label.size() - room);
  DrawText(sheet, layout.X(tile) + kLabelPadding,
           layout.Y(tile) + layout.thumb_height + kLabelPadding, label, layout.label_scale,
           kLabelColor);
}

// The JPEG frames of the range, thinned out to a bounded, evenly spaced list.
std::vector<SheetCandidate> Candidates(FileSystem& files, const StoreFolder& store,
                                       const std::vector<FileSetInfo>& sets,
                                       const StampRange& range, RangeWalkCounts& walk) {
  EvenSample sample;
  walk = ForEachFrameInRange(files, store, sets, range, [&](int32_t set, const StoredFrame& frame) {
    if (frame.data_type == kJpeg) {
      sample.Add({set, frame.index, frame.date, frame.time});
    }
    return true;
  });
  return sample.Kept();
}

}  // namespace

void CheckSheetOptions(const SheetOptions& o) {
  const auto check = [](int value, int low, int high, const char* option) {
    if (value < low || value > high) {
      throw CommandError(std::string(option) + " " + std::to_string(value) + " is outside " +
                         std::to_string(low) + " to " + std::to_string(high));
    }
  };
  check(o.columns, 1, SheetOptions::kMaxColumns, "--columns");
  check(o.count, 1, SheetOptions::kMaxCount, "--count");
  check(o.width, SheetOptions::kMinWidth, SheetOptions::kMaxWidth, "--width");
}

SheetResult MakeContactSheet(FileSystem& files, const StoreFolder& store,
                             const std::vector<FileSetInfo>& sets, const StampRange& range,
                             const SheetOptions& options) {
  CheckSheetOptions(options);
  SheetResult result;
  const std::vector<SheetCandidate> candidates = Candidates(files, store, sets, range, result.walk);
  if (candidates.empty()) {
    const std::string where = range.Describe();
    const std::string damage = result.walk.DescribeDamage();
    throw CommandError("no JPEG frames in " + store.argument + (where.empty() ? "" : " ") + where +
                       (damage.empty() ? "" : " (" + damage + ")"));
  }
  std::vector<SheetCandidate> tiles;
  for (const int64_t pick : PickEvenly(std::ssize(candidates), options.count)) {
    tiles.push_back(candidates[pick]);
  }
  result.tiles = static_cast<int>(tiles.size());

  // Each tile's picture, decoded when the sheet needs it; the first one that
  // decodes also sets the thumbnails' shape.
  StoreReader reader(files, store.prefix);
  JpegCodec codec;
  const auto decode = [&](const SheetCandidate& c, int min_height, RgbImage& picture) {
    StoredFrame frame;
    std::string error;
    if (reader.ReadFrame(sets[c.set].name, c.frame, frame, error) &&
        codec.DecodeScaled(frame.data, options.width, min_height, picture, error)) {
      return true;
    }
    result.grey_tiles.push_back("set " + sets[c.set].name + " frame " + std::to_string(c.frame) +
                                ": " + error);
    return false;
  };
  size_t first_good = 0;
  RgbImage first;
  while (first_good < tiles.size() && !decode(tiles[first_good], 1, first)) ++first_good;
  const SheetLayout layout =
      Layout(options, result.tiles, first_good < tiles.size() ? &first : nullptr);
  if (int64_t{layout.Width()} * layout.Height() > SheetOptions::kMaxSheetPixels ||
      layout.Width() > kMaxJpegSide || layout.Height() > kMaxJpegSide) {
    throw CommandError(
        "a sheet of " + std::to_string(layout.Width()) + "x" + std::to_string(layout.Height()) +
        " pixels is larger than " + std::to_string(SheetOptions::kMaxSheetPixels) + " pixels or " +
        std::to_string(kMaxJpegSide) + " on a side: ask for fewer or narrower thumbnails");
  }

  RgbImage sheet(layout.Width(), layout.Height(), kBackground);
  for (int tile = 0; tile < result.tiles; ++tile) {
    RgbImage picture;
    const bool good = static_cast<size_t>(tile) == first_good
                          ? (picture = std::move(first), true)
                          : static_cast<size_t>(tile) > first_good &&
                                decode(tiles[tile], layout.thumb_height, picture);
    if (good) {
      DrawThumbnail(sheet, layout, tile, picture);
    } else {
      sheet.FillRect(layout.X(tile), layout.Y(tile), layout.thumb_width, layout.thumb_height,
                     kGreyTile);
    }
    DrawLabel(sheet, layout, tile, tiles[tile]);
  }
  std::string error;
  if (!codec.Encode(sheet, kSheetQuality, result.jpeg, error)) {
    throw CommandError("cannot encode the sheet: " + error);
  }
  result.width = sheet.width;
  result.height = sheet.height;
  return result;
}

}  // namespace ravelon::cli
