#pragma once
// What a board's flash must hold: the file read independently of the tool
// (srec_cat), the bootstrap code, generated hex files and flash images.

#include <QJsonObject>

#include <array>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

namespace fernwick::e2e {

using image = std::vector<std::uint8_t>;

inline constexpr std::size_t k_sector = 0x8000;
inline constexpr std::size_t k_flash = 4 * k_sector;

// The bootstrap loader code the tool puts into sector 0 or 2.
image code_bytes();

// The file's contents from srec_cat, independently of the tool, filled once
// with 00h and once with FFh: a byte the file supplies reads the same in both.
using reference = std::array<image, 2>;
reference read_with_srec_cat(const std::string& hex, const std::string& dir);

// What the flash must hold after programming `sectors` ("0,1,2,3"): each data
// byte at its address, 00h padding in every 64-byte block that holds data, the
// code where it belongs, FFh elsewhere in the programmed sectors, the rest
// untouched.
image expected_flash(const image& before, const reference& ref, const std::string& sectors, int target,
                     int sector0_segment);

// dir/gen.hex: random records with gaps, shuffled, lower-case digits, both
// kinds of address record.
std::string generated(const std::string& dir, unsigned seed);

bool holds_the_code(const image& flash, std::initializer_list<std::size_t> sectors = {0, 2});

// A flash of random bytes with the code in sector `now` (none if negative), written to dir/before.bin.
image random_flash(const std::string& dir, unsigned seed, int now);

image read_image(const std::string& path);

// Lines of a JSON Lines text as objects.
std::vector<QJsonObject> json_lines(const std::string& text);
// Those of `records` whose `key` is `port`.
std::vector<QJsonObject> records_of(const std::vector<QJsonObject>& records, const std::string& port,
                                    const char* key = "device");
// A port's log in --log-dir: /dev/pts/3's is dev-pts-3.log.
std::string log_name(const std::string& port);

}  // namespace fernwick::e2e
