// Build-time helper for the firmware image the tool carries.
//
//   fwtool generate <out.bin>
//       Writes the stand-in image kept in the repository: 90,548 bytes whose exclusive OR is
//       0xC0 and whose 32-bit sum is 0x0078EB6A, so it agrees with the trailer C0 00 78 EB 6A.
//       It is not unit firmware: a unit would refuse to run it.
//   fwtool embed <in.bin> "<trailer hex>" <out.cpp>
//       Checks that the image agrees with its trailer (exclusive OR, then the 32-bit sum,
//       big-endian) and writes a source file that carries both.

#include <array>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

namespace {

constexpr std::size_t StandInLength = 90548;
constexpr std::uint8_t StandInXor = 0xC0;
constexpr std::uint32_t StandInSum = 0x0078EB6A;

struct Check {
  std::uint8_t xorAll = 0;
  std::uint32_t sum = 0;
};

Check Measure(const std::vector<std::uint8_t>& bytes) {
  Check c;
  for (std::uint8_t b : bytes) {
    c.xorAll ^= b;
    c.sum += b;
  }
  return c;
}

// Finds the last four bytes so that the whole image has the wanted exclusive OR and sum.
bool Close4(std::vector<std::uint8_t>& image) {
  const Check head = Measure(image);
  const std::uint32_t needSum = StandInSum - head.sum;
  const std::uint8_t needXor = StandInXor ^ head.xorAll;
  for (unsigned a = 0; a < 256; ++a) {
    for (unsigned b = 0; b < 256; ++b) {
      // c + d = s and c ^ d = x give c & d = (s - x) / 2, which must not share bits with x.
      const long s = static_cast<long>(needSum) - a - b;
      const unsigned x = needXor ^ a ^ b;
      if (s < static_cast<long>(x) || (s - x) % 2 != 0) continue;
      const unsigned both = static_cast<unsigned>((s - x) / 2);
      if ((both & x) != 0) continue;
      const unsigned c = both | x, d = both;
      if (c > 255 || d > 255) continue;
      image.insert(image.end(), {static_cast<std::uint8_t>(a), static_cast<std::uint8_t>(b),
                                 static_cast<std::uint8_t>(c), static_cast<std::uint8_t>(d)});
      return true;
    }
  }
  return false;
}

int Generate(const char* out) {
  const std::string banner =
      "ZPi firmware stand-in 2.46 for ZPiTool development builds. Not unit firmware.";
  std::vector<std::uint8_t> image(banner.begin(), banner.end());
  // Deterministic filler whose mean (87.5) matches the sum the trailer asks for.
  std::uint32_t x = 0x2463A5F1u;
  while (image.size() < StandInLength - 4) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    image.push_back(static_cast<std::uint8_t>(x % 176));
  }
  // Nudge the filler, one unit per byte, until the last four bytes need about 4 x 127.
  const std::uint32_t headTarget = StandInSum - 510;
  std::uint32_t sum = Measure(image).sum;
  for (std::size_t i = banner.size(); sum != headTarget; i = i + 1 < image.size() ? i + 1 : banner.size()) {
    if (sum < headTarget && image[i] < 255) {
      ++image[i];
      ++sum;
    } else if (sum > headTarget && image[i] > 0) {
      --image[i];
      --sum;
    }
  }
  if (!Close4(image)) {
    std::fprintf(stderr, "fwtool: cannot close the image on its trailer\n");
    return 1;
  }
  std::ofstream file(out, std::ios::binary);
  file.write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));
  return file ? 0 : 1;
}

bool ParseTrailer(const std::string& text, std::array<std::uint8_t, 5>& trailer) {
  std::istringstream in(text);
  for (auto& byte : trailer) {
    unsigned value = 0;
    if (!(in >> std::hex >> value) || value > 255) return false;
    byte = static_cast<std::uint8_t>(value);
  }
  std::string rest;
  return !(in >> rest);
}

int Embed(const char* in, const std::string& trailerText, const char* out) {
  std::ifstream file(in, std::ios::binary);
  if (!file) {
    std::fprintf(stderr, "fwtool: cannot read %s\n", in);
    return 1;
  }
  const std::vector<std::uint8_t> image{std::istreambuf_iterator<char>(file), {}};
  std::array<std::uint8_t, 5> trailer{};
  if (!ParseTrailer(trailerText, trailer)) {
    std::fprintf(stderr, "fwtool: the trailer must be five hexadecimal bytes, got \"%s\"\n", trailerText.c_str());
    return 1;
  }
  const Check c = Measure(image);
  const std::uint32_t sum = std::uint32_t{trailer[1]} << 24 | std::uint32_t{trailer[2]} << 16 |
                            std::uint32_t{trailer[3]} << 8 | trailer[4];
  if (c.xorAll != trailer[0] || c.sum != sum) {
    std::fprintf(stderr,
                 "fwtool: %s does not agree with its trailer: exclusive OR %02X, sum %08X; trailer says %02X, %08X\n",
                 in, c.xorAll, c.sum, trailer[0], sum);
    return 1;
  }
  std::ofstream src(out);
  src << "// Generated from " << in << " by fwtool; do not edit.\n"
      << "#include \"transfer/firmware.h\"\n\nnamespace {\nconst std::uint8_t kImage[] = {";
  for (std::size_t i = 0; i < image.size(); ++i) {
    if (i % 24 == 0) src << "\n";
    src << static_cast<unsigned>(image[i]) << ",";
  }
  src << "\n};\n}  // namespace\n\n"
      << "std::span<const std::uint8_t> FirmwareImage() { return {kImage, sizeof kImage}; }\n\n"
      << "TransferTrailer FirmwareTrailer() { return {";
  for (std::size_t i = 0; i < trailer.size(); ++i) src << (i ? ", " : "") << static_cast<unsigned>(trailer[i]);
  src << "}; }\n";
  return src ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string verb = argc > 1 ? argv[1] : "";
  if (verb == "generate" && argc == 3) return Generate(argv[2]);
  if (verb == "embed" && argc == 5) return Embed(argv[2], argv[3], argv[4]);
  std::fprintf(stderr, "usage: fwtool generate <out.bin>\n       fwtool embed <in.bin> \"<trailer hex>\" <out.cpp>\n");
  return 2;
}
