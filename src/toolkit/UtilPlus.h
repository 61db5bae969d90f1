// The numeric field TEditVal, its range error EHorsDomaine, the conversion
// error EConvertError and the text-to-integer conversion they share with the
// spin edit.
#pragma once

#include "toolkit/Controls.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace talvine::tk {

class EConvertError : public Exception {
  public:
    using Exception::Exception;
};

class EHorsDomaine : public Exception {
  public:
    using Exception::Exception;
};

// The standard text-to-integer conversion: leading spaces, then either an
// optional sign and decimal digits, or a hexadecimal number after "$", "x",
// "X", "0x" or "0X" read as a 32-bit pattern ("$FFFFFFFF" is -1) with no
// sign before it; the digits run to the end of the text.  Nothing for an
// empty text, a sign alone, a stray character or a value that does not fit.
std::optional<std::int32_t> parseInt(std::string_view text);
// The same, raising EConvertError "'<text>' n'est pas une valeur entière
// correcte".
std::int32_t strToInt(std::string_view text);
std::int32_t strToIntDef(std::string_view text, std::int32_t fallback);

// An edit field that also holds an integer and an optional inclusive range,
// checked only when Verifier is called.  Filters no keys.
class TEditVal : public Edit {
  public:
    TEditVal(Form* f, Control* p, std::string n) : Edit(f, p, std::move(n), ControlKind::EditVal) {}

    // The last value Verifier accepted, or the value given to Initialiser.
    std::int32_t Valeur = 0;
    // Inclusive bounds; 0 and 0 mean no range at all.
    std::int32_t Mini = 0;
    std::int32_t Maxi = 0;

    // Stored, never used; at most 32 characters (longer titles are cut).
    const std::string& Titre() const { return titre_; }
    void setTitre(std::string_view titre);

    // Stores the three values and shows the value in decimal (OnChange if the
    // text differs).  The value is not checked against the range.
    void Initialiser(std::int32_t valeur, std::int32_t mini, std::int32_t maxi);
    // Converts the text, checks the range and stores the result in Valeur;
    // raises EConvertError or EHorsDomaine and leaves Valeur alone otherwise.
    void Verifier();

  private:
    std::string titre_;
};

} // namespace talvine::tk
