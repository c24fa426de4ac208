#include "engine/picture_heif.h"

#include <cstdint>
#include <utility>
#include <vector>

#include "engine/picture_bytes.h"

namespace qf {
namespace {

constexpr std::size_t kBoxHeader = 8, kLargeBoxHeader = 16, kFullBoxHeader = 4;

struct Box {
  std::string_view type;
  std::string_view body;
};

// Removes the box at the front of rest. Empty when its header is cut, its size
// is below its header's (0, "to the end", is not taken either) or it runs
// past rest: a box may only hold what its container holds.
std::optional<Box> takeBox(std::string_view& rest) {
  if (rest.size() < kBoxHeader) return std::nullopt;
  std::uint64_t size = bigEndian(rest, 0, 4);
  std::size_t header = kBoxHeader;
  if (size == 1) {
    if (rest.size() < kLargeBoxHeader) return std::nullopt;
    size = std::uint64_t{bigEndian(rest, 8, 4)} << 32 | bigEndian(rest, 12, 4);
    header = kLargeBoxHeader;
  }
  if (size < header || size > rest.size()) return std::nullopt;
  const Box box{rest.substr(4, 4), rest.substr(header, static_cast<std::size_t>(size) - header)};
  rest.remove_prefix(static_cast<std::size_t>(size));
  return box;
}

// The body of the first box of the given type among boxes; empty when it is
// missing or a box before it is broken.
std::optional<std::string_view> findBox(std::string_view boxes, std::string_view type) {
  while (const std::optional<Box> box = takeBox(boxes)) {
    if (box->type == type) return box->body;
  }
  return std::nullopt;
}

// The body of a full box past its version and flags.
std::optional<std::string_view> fullBoxContents(std::optional<std::string_view> body) {
  if (!body || body->size() < kFullBoxHeader) return std::nullopt;
  return body->substr(kFullBoxHeader);
}

std::optional<std::uint32_t> primaryItem(std::string_view metaBoxes) {
  const std::optional<std::string_view> pitm = findBox(metaBoxes, "pitm");
  if (!pitm || pitm->size() < kFullBoxHeader) return std::nullopt;
  const std::size_t idSize = byteAt(*pitm, 0) == 0 ? 2 : 4;
  if (pitm->size() < kFullBoxHeader + idSize) return std::nullopt;
  return bigEndian(*pitm, kFullBoxHeader, idSize);
}

// Every box in ipco, numbered from 1 by the associations; empty when one is
// broken, since the numbers after it would be wrong.
std::optional<std::vector<Box>> propertiesIn(std::string_view ipco) {
  std::vector<Box> properties;
  while (!ipco.empty()) {
    const std::optional<Box> box = takeBox(ipco);
    if (!box) return std::nullopt;
    properties.push_back(*box);
  }
  return properties;
}

struct ItemProperties {
  std::optional<PictureSize> extent;
  std::optional<unsigned> quarterTurns;
};

// Takes the first extent and the first rotation among the properties; false
// when one of them is cut short.
bool applyProperty(const Box& property, ItemProperties& item) {
  if (property.type == "ispe" && !item.extent) {
    const std::string_view& body = property.body;
    if (body.size() < kFullBoxHeader + 8) return false;
    item.extent = PictureSize{bigEndian(body, 4, 4), bigEndian(body, 8, 4)};
  } else if (property.type == "irot" && !item.quarterTurns) {
    if (property.body.empty()) return false;
    item.quarterTurns = byteAt(property.body, 0) & 3u;
  }
  return true;
}

// Walks one ipma box, applying the properties associated with item; false
// when the box is cut short or points at a property that is not there.
bool applyAssociations(std::string_view ipma, std::uint32_t item,
                       const std::vector<Box>& properties, ItemProperties& found) {
  if (ipma.size() < kFullBoxHeader + 4) return false;
  const std::size_t idSize = byteAt(ipma, 0) == 0 ? 2 : 4;
  const std::size_t indexSize = (byteAt(ipma, 3) & 1u) ? 2 : 1;
  const std::uint32_t indexMask = indexSize == 2 ? 0x7FFF : 0x7F;  // top bit: "essential"
  std::uint32_t entries = bigEndian(ipma, kFullBoxHeader, 4);
  std::size_t pos = kFullBoxHeader + 4;
  // Each entry takes at least three bytes, so a huge count ends at the box's end.
  for (; entries > 0; --entries) {
    if (ipma.size() - pos < idSize + 1) return false;
    const std::uint32_t id = bigEndian(ipma, pos, idSize);
    const std::size_t count = byteAt(ipma, pos + idSize);
    pos += idSize + 1;
    if (ipma.size() - pos < count * indexSize) return false;
    for (std::size_t i = 0; id == item && i < count; ++i) {
      const std::uint32_t index = bigEndian(ipma, pos + i * indexSize, indexSize) & indexMask;
      if (index == 0) continue;  // no property
      if (index > properties.size() || !applyProperty(properties[index - 1], found)) return false;
    }
    pos += count * indexSize;
  }
  return true;
}

std::optional<ItemProperties> propertiesOf(std::uint32_t item, std::string_view iprp) {
  const std::optional<std::string_view> ipco = findBox(iprp, "ipco");
  const std::optional<std::vector<Box>> properties = ipco ? propertiesIn(*ipco) : std::nullopt;
  if (!properties) return std::nullopt;
  ItemProperties found;
  while (!iprp.empty()) {
    const std::optional<Box> box = takeBox(iprp);
    if (!box) return std::nullopt;
    if (box->type == "ipma" && !applyAssociations(box->body, item, *properties, found)) {
      return std::nullopt;
    }
  }
  return found;
}

}  // namespace

std::optional<PictureSize> readHeifSize(std::string_view bytes) {
  std::string_view rest = bytes;
  const std::optional<Box> first = takeBox(rest);
  if (!first || first->type != "ftyp") return std::nullopt;
  const std::optional<std::string_view> meta = fullBoxContents(findBox(rest, "meta"));
  const std::optional<std::uint32_t> item = meta ? primaryItem(*meta) : std::nullopt;
  const std::optional<std::string_view> iprp = item ? findBox(*meta, "iprp") : std::nullopt;
  const std::optional<ItemProperties> found = iprp ? propertiesOf(*item, *iprp) : std::nullopt;
  if (!found || !found->extent || found->extent->width == 0 || found->extent->height == 0) {
    return std::nullopt;
  }
  PictureSize size = *found->extent;
  if (found->quarterTurns.value_or(0) % 2 == 1) std::swap(size.width, size.height);
  return size;
}

}  // namespace qf
