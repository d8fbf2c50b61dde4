// SPDX-License-Identifier: GPL-3.0-or-later
// Text of glimmerbox-fx's own lines, safe to print on a terminal.
#pragma once

#include <string>
#include <string_view>

// text with every control character written out, so that a file name can
// neither start a line of its own nor send escape codes to a terminal:
// newline, carriage return and tab as \n, \r and \t, the rest of C0, DEL
// and C1 (U+0080..U+009F) as \xHH per byte. Everything else, valid UTF-8
// or not, stays as it is; text already made printable comes back unchanged.
inline std::string Printable(std::string_view text)
{
    static constexpr char Hex[] = "0123456789abcdef";
    std::string out;
    out.reserve(text.size());
    auto escape = [&out](unsigned char byte) {
        out += "\\x";
        out += Hex[byte >> 4];
        out += Hex[byte & 15];
    };
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (byte == '\n') {
            out += "\\n";
        } else if (byte == '\r') {
            out += "\\r";
        } else if (byte == '\t') {
            out += "\\t";
        } else if (byte < 0x20 || byte == 0x7F) {
            escape(byte);
        } else if (byte == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
                   static_cast<unsigned char>(text[i + 1]) <= 0x9F) {
            escape(byte);
            escape(static_cast<unsigned char>(text[++i]));
        } else {
            out += static_cast<char>(byte);
        }
    }
    return out;
}
