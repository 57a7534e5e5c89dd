// pe_load_config <image.exe> <link map>
//
// Points a linked 32-bit image's load configuration directory at the
// structure named _load_config_used (the map gives its address), which this
// linker does not do itself. The directory's size is 64, the size that
// Windows 2000 and XP require of a 32-bit image; later versions read the
// structure's own size field, which must be 72 (up to the table of exception
// handlers). The structure must name a security cookie inside the image's
// writable data that still holds the compiler's default value, which the
// loader replaces. The header's checksum is made again. Exit code 0 when the
// image was changed, 1 with the reason.
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

namespace {

constexpr uint32_t kDirectorySize = 64;
constexpr uint32_t kStructureSize = 72;
constexpr uint32_t kCookieOffset = 60;
constexpr uint32_t kDefaultCookie = 0xBB40E64E;
constexpr int kLoadConfigEntry = 10;
constexpr uint32_t kWritable = 0x80000000;

struct Failure {
    std::string what;
};

uint32_t Get32(const std::vector<unsigned char> &b, size_t at) {
    if (at + 4 > b.size()) throw Failure{"the image ends inside its headers"};
    uint32_t v;
    std::memcpy(&v, &b[at], 4);
    return v;
}
uint16_t Get16(const std::vector<unsigned char> &b, size_t at) {
    if (at + 2 > b.size()) throw Failure{"the image ends inside its headers"};
    uint16_t v;
    std::memcpy(&v, &b[at], 2);
    return v;
}
void Put32(std::vector<unsigned char> &b, size_t at, uint32_t v) { std::memcpy(&b[at], &v, 4); }

struct Section {
    uint32_t address, size, raw, rawSize, flags;
};

uint32_t MapAddress(const std::string &map) {
    std::istringstream in(map);
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream words(line);
        std::string address, name, rest;
        if (words >> address >> name && !(words >> rest) && (name == "_load_config_used" || name == "__load_config_used") && address.rfind("0x", 0) == 0)
            return static_cast<uint32_t>(std::stoul(address, nullptr, 16));
    }
    throw Failure{"the map names no _load_config_used"};
}

void Patch(std::vector<unsigned char> &image, uint32_t address) {
    const uint32_t pe = Get32(image, 0x3C);
    if (Get32(image, pe) != 0x4550 || Get16(image, pe + 24) != 0x10B) throw Failure{"not a 32-bit PE image"};
    const uint32_t optional = pe + 24, base = Get32(image, optional + 28);
    const uint16_t sectionCount = Get16(image, pe + 6), optionalSize = Get16(image, pe + 20);
    if (Get32(image, optional + 92) <= kLoadConfigEntry) throw Failure{"the header has no load configuration entry"};
    std::vector<Section> sections;
    for (uint16_t i = 0; i < sectionCount; ++i) {
        const size_t s = optional + optionalSize + 40u * i;
        sections.push_back({Get32(image, s + 12), Get32(image, s + 8), Get32(image, s + 20), Get32(image, s + 16),
                            Get32(image, s + 36)});
    }
    auto find = [&](uint32_t rva, uint32_t length) -> const Section & {
        for (const Section &s : sections)
            if (rva >= s.address && rva + length <= s.address + s.size && rva - s.address + length <= s.rawSize)
                return s;
        throw Failure{"an address outside the image's sections"};
    };
    if (address < base) throw Failure{"the structure lies below the image"};
    const uint32_t rva = address - base;
    const Section &holder = find(rva, kStructureSize);
    const size_t at = holder.raw + (rva - holder.address);
    if (Get32(image, at) != kStructureSize) throw Failure{"the structure's size field is not 72"};
    const uint32_t cookie = Get32(image, at + kCookieOffset);
    if (cookie < base) throw Failure{"the structure names no security cookie"};
    const Section &data = find(cookie - base, 4);
    if (!(data.flags & kWritable)) throw Failure{"the security cookie is not in writable data"};
    if (Get32(image, data.raw + (cookie - base - data.address)) != kDefaultCookie)
        throw Failure{"the security cookie does not hold the compiler's default value"};
    const size_t entry = optional + 96 + 8 * kLoadConfigEntry;
    Put32(image, entry, rva);
    Put32(image, entry + 4, kDirectorySize);
    // The linker's checksum of the image, made again for the changed header.
    const size_t checksum = optional + 64;
    Put32(image, checksum, 0);
    uint64_t sum = 0;
    for (size_t i = 0; i + 1 < image.size(); i += 2) {
        sum += static_cast<uint32_t>(image[i] | image[i + 1] << 8);
        sum = (sum & 0xFFFF) + (sum >> 16);
    }
    if (image.size() & 1) sum += image.back();
    sum = (sum & 0xFFFF) + (sum >> 16);
    Put32(image, checksum, static_cast<uint32_t>((sum & 0xFFFF) + image.size()));
}

}  // namespace

int main(int argc, char **argv) {
    if (argc != 3) {
        std::cerr << "usage: pe_load_config <image.exe> <link map>\n";
        return 2;
    }
    try {
        std::ifstream in(argv[1], std::ios::binary), mapIn(argv[2]);
        if (!in || !mapIn) throw Failure{"cannot read the image or the map"};
        std::vector<unsigned char> image((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        std::string map((std::istreambuf_iterator<char>(mapIn)), std::istreambuf_iterator<char>());
        Patch(image, MapAddress(map));
        std::ofstream out(argv[1], std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char *>(image.data()), static_cast<std::streamsize>(image.size()));
        if (!out) throw Failure{"cannot write the image"};
    } catch (const Failure &f) {
        std::cerr << "pe_load_config: " << argv[1] << ": " << f.what << "\n";
        return 1;
    } catch (const std::exception &e) {
        std::cerr << "pe_load_config: " << argv[1] << ": " << e.what() << "\n";
        return 1;
    }
    return 0;
}
