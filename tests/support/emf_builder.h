#pragma once
// Builds EMF files byte by byte, so tests can make exactly the records (well-formed or not)
// that a case needs.

#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace testsupport {

// Little-endian field appender.
struct Le {
  std::string b;
  Le& u32(std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b += static_cast<char>((v >> (8 * i)) & 0xFF);
    return *this;
  }
  Le& i32(std::int32_t v) { return u32(static_cast<std::uint32_t>(v)); }
  Le& u16(std::uint16_t v) {
    b += static_cast<char>(v & 0xFF);
    b += static_cast<char>(v >> 8);
    return *this;
  }
  Le& i16(std::int16_t v) { return u16(static_cast<std::uint16_t>(v)); }
  Le& f32(float f) {
    std::uint32_t v;
    std::memcpy(&v, &f, 4);
    return u32(v);
  }
  Le& rect(std::int32_t l, std::int32_t t, std::int32_t r, std::int32_t bottom) {
    return i32(l).i32(t).i32(r).i32(bottom);
  }
  Le& raw(std::string_view s) {
    b.append(s);
    return *this;
  }
  Le& zeros(std::size_t n) {
    b.append(n, '\0');
    return *this;
  }
};

using Pt = std::pair<std::int16_t, std::int16_t>;

class EmfBuilder {
 public:
  struct Header {
    std::int32_t bounds[4] = {0, 0, 100, 100};
    std::int32_t frame[4] = {0, 0, 0, 0};  // 0.01 mm
    std::uint32_t offDescription = 108;
    std::u16string description;
    std::optional<std::uint32_t> nSize;  // default: the bytes written, rounded up to 4
  };

  EmfBuilder() { header(Header{}); }
  explicit EmfBuilder(const Header& h) { header(h); }

  // A record of `type` with `body` after iType and nSize; nSize defaults to the true size.
  EmfBuilder& record(std::uint32_t type, const Le& body, std::optional<std::uint32_t> nSize = {}) {
    Le r;
    r.u32(type).u32(nSize.value_or(static_cast<std::uint32_t>(8 + body.b.size()))).raw(body.b);
    bytes_ += r.b;
    return *this;
  }
  EmfBuilder& raw(std::string_view s) {
    bytes_.append(s);
    return *this;
  }

  // 16-bit point record (POLYGON16 86, POLYLINE16 87, POLYBEZIER16 85, ...); `count` overrides cpts.
  EmfBuilder& poly16(std::uint32_t type, const std::vector<Pt>& pts, std::optional<std::uint32_t> count = {}) {
    Le b;
    b.rect(0, 0, 0, 0).u32(count.value_or(static_cast<std::uint32_t>(pts.size())));
    for (auto [x, y] : pts) b.i16(x).i16(y);
    return record(type, b);
  }
  EmfBuilder& polyPolygon16(const std::vector<std::uint32_t>& counts, const std::vector<Pt>& pts) {
    Le b;
    b.rect(0, 0, 0, 0).u32(static_cast<std::uint32_t>(counts.size())).u32(static_cast<std::uint32_t>(pts.size()));
    for (auto c : counts) b.u32(c);
    for (auto [x, y] : pts) b.i16(x).i16(y);
    return record(91, b);
  }
  EmfBuilder& brush(std::uint32_t ih, std::uint32_t style, std::uint32_t color, std::int32_t hatch = 0) {
    return record(39, Le().u32(ih).u32(style).u32(color).i32(hatch));
  }
  EmfBuilder& extPen(std::uint32_t ih, std::uint32_t style, std::uint32_t width, std::uint32_t color,
                     std::uint32_t brushStyle = 0) {
    return record(95, Le().u32(ih).u32(52).u32(0).u32(52).u32(0).u32(style).u32(width).u32(brushStyle).u32(color)
                          .u32(0).u32(0));
  }
  EmfBuilder& modifyWorldTransform(float m11, float m12, float m21, float m22, float dx, float dy,
                                   std::uint32_t mode) {
    return record(36, Le().f32(m11).f32(m12).f32(m21).f32(m22).f32(dx).f32(dy).u32(mode));
  }
  EmfBuilder& point(std::uint32_t type, std::int32_t x, std::int32_t y) { return record(type, Le().i32(x).i32(y)); }
  EmfBuilder& empty(std::uint32_t type) { return record(type, Le()); }
  // A record of one 32-bit value (SELECTOBJECT 37, SETPOLYFILLMODE 19, SETMAPMODE 17, ...).
  EmfBuilder& value(std::uint32_t type, std::uint32_t v) { return record(type, Le().u32(v)); }
  EmfBuilder& select(std::uint32_t ih) { return value(37, ih); }
  EmfBuilder& eof() { return record(14, Le().u32(0).u32(16).u32(20)); }

  const std::string& bytes() const { return bytes_; }

 private:
  void header(const Header& h) {
    Le b;
    b.u32(1).u32(0);  // nSize patched below
    b.rect(h.bounds[0], h.bounds[1], h.bounds[2], h.bounds[3]).rect(h.frame[0], h.frame[1], h.frame[2], h.frame[3]);
    b.u32(0x464D4520).u32(0x10000).u32(0).u32(0).u16(0).u16(0);
    b.u32(static_cast<std::uint32_t>(h.description.size())).u32(h.offDescription).u32(0);
    b.i32(1024).i32(768).i32(320).i32(240);
    if (h.offDescription >= 100) b.u32(0).u32(0).u32(0);
    if (h.offDescription >= 108) b.i32(320000).i32(240000);
    for (char16_t c : h.description) b.u16(c);
    while (b.b.size() % 4) b.b += '\0';
    const auto size = h.nSize.value_or(static_cast<std::uint32_t>(b.b.size()));
    if (size > b.b.size()) b.zeros(size - b.b.size());
    for (int i = 0; i < 4; ++i) b.b[4 + i] = static_cast<char>((size >> (8 * i)) & 0xFF);
    bytes_ = b.b;
  }

  std::string bytes_;
};

}  // namespace testsupport
