// The glyph board of render goes to the host interpreter's print; the engine reaches it only
// through this sink.
#pragma once

#include <cstdint>

namespace ortolan {

// One argument of a print call: a text, or an integer when text is null.
struct PrintArg {
    const char* text;
    int32_t number;
};

class GlyphSink {
public:
    virtual ~GlyphSink() = default;
    // Prints the arguments separated by one blank, followed by a newline when newline_end is
    // set and by nothing otherwise.
    virtual void print(const PrintArg* args, int32_t count, bool newline_end) = 0;
};

// UTF-8 glyphs of the twelve pieces, in Piece order.
extern const char* const piece_glyphs[12];

}  // namespace ortolan
