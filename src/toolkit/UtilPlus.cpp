#include "toolkit/UtilPlus.h"

#include <cstdint>

namespace talvine::tk {

std::optional<std::int32_t> parseInt(std::string_view text) {
    std::size_t i = 0;
    const std::size_t n = text.size();
    while (i < n && text[i] == ' ')
        ++i;
    if (i == n) return std::nullopt;

    bool hex = false;
    if (text[i] == '$' || text[i] == 'x' || text[i] == 'X') {
        hex = true;
        i += 1;
    } else if (text[i] == '0' && i + 1 < n && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
        hex = true;
        i += 2;
    }
    if (hex) {
        if (i == n) return std::nullopt;
        std::uint64_t v = 0;
        for (; i < n; ++i) {
            const char c = text[i];
            int d;
            if (c >= '0' && c <= '9')
                d = c - '0';
            else if (c >= 'A' && c <= 'F')
                d = c - 'A' + 10;
            else if (c >= 'a' && c <= 'f')
                d = c - 'a' + 10;
            else
                return std::nullopt;
            v = v * 16 + static_cast<std::uint64_t>(d);
            if (v > 0xFFFFFFFFu) return std::nullopt;
        }
        // The 32-bit pattern: $FFFFFFFF is -1.
        return static_cast<std::int32_t>(static_cast<std::uint32_t>(v));
    }

    bool negative = false;
    if (text[i] == '+' || text[i] == '-') {
        negative = text[i] == '-';
        ++i;
    }
    if (i == n) return std::nullopt;
    std::int64_t v = 0;
    for (; i < n; ++i) {
        const char c = text[i];
        if (c < '0' || c > '9') return std::nullopt;
        v = v * 10 + (c - '0');
        if (v > 2147483648LL) return std::nullopt;
    }
    if (negative) return static_cast<std::int32_t>(-v);
    if (v > 2147483647LL) return std::nullopt;
    return static_cast<std::int32_t>(v);
}

std::int32_t strToInt(std::string_view text) {
    if (auto v = parseInt(text)) return *v;
    throw EConvertError("'" + std::string(text) + "' n'est pas une valeur entière correcte");
}

std::int32_t strToIntDef(std::string_view text, std::int32_t fallback) {
    return parseInt(text).value_or(fallback);
}

void TEditVal::setTitre(std::string_view titre) {
    // At most 32 characters.
    std::size_t end = 0;
    for (int count = 0; end < titre.size() && count < 32; ++count) {
        ++end;
        while (end < titre.size() && (static_cast<unsigned char>(titre[end]) & 0xC0) == 0x80)
            ++end;
    }
    titre_ = std::string(titre.substr(0, end));
}

void TEditVal::Initialiser(std::int32_t valeur, std::int32_t mini, std::int32_t maxi) {
    Valeur = valeur;
    Mini = mini;
    Maxi = maxi;
    setText(std::to_string(valeur));
}

void TEditVal::Verifier() {
    const std::int32_t n = strToInt(text());
    if ((Mini != 0 || Maxi != 0) && (n < Mini || n > Maxi))
        throw EHorsDomaine(std::to_string(n) + " n'est pas dans l'intervalle requis " +
                           std::to_string(Mini) + " .. " + std::to_string(Maxi));
    Valeur = n;
}

} // namespace talvine::tk
