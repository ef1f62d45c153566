#include "run/number_template.h"

#include "support/text_format.h"

namespace {

bool Refuse(std::string* why, std::string reason) {
    if (why != nullptr) {
        *why = std::move(reason);
    }
    return false;
}

}  // namespace

std::optional<CNumberTemplate> CNumberTemplate::Parse(std::string_view text, std::string* why) {
    CNumberTemplate parsed;
    bool hasNumber = false;
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t open = text.find('{', at);
        if (open != at) {
            const std::size_t end = open == std::string_view::npos ? text.size() : open;
            if (text.substr(at, end - at).find('}') != std::string_view::npos) {
                Refuse(why, "a \"}\" without its \"{\"");
                return std::nullopt;
            }
            parsed.pieces_.push_back({Piece::kText, std::string(text.substr(at, end - at))});
            at = end;
            continue;
        }
        const std::size_t close = text.find('}', open);
        if (close == std::string_view::npos) {
            Refuse(why, "a \"{\" without its \"}\"");
            return std::nullopt;
        }
        const std::string_view name = text.substr(open + 1, close - open - 1);
        if (name == "n") {
            parsed.pieces_.push_back({Piece::kNumber, {}, 0});
            hasNumber = true;
        } else if (name == "n/1000") {
            parsed.pieces_.push_back({Piece::kThousands, {}, 0});
        } else if (name.size() >= 4 && name.size() <= 5 && name.substr(0, 3) == "n:0" &&
                   name.find_first_not_of("0123456789", 3) == std::string_view::npos) {
            // "{n:0W}": the zero asks for padding, W is the width.
            const int width = std::stoi(std::string(name.substr(3)));
            if (width < 1 || width > 10) {
                Refuse(why, "a width from 1 to 10 digits, not {" + std::string(name) + "}");
                return std::nullopt;
            }
            parsed.pieces_.push_back({Piece::kNumber, {}, width});
            hasNumber = true;
        } else {
            Refuse(why, "unknown placeholder {" + std::string(name) +
                            "} (known: {n}, {n:0W}, {n/1000})");
            return std::nullopt;
        }
        at = close + 1;
    }
    if (!hasNumber) {
        Refuse(why, "no place for the number: {n} or {n:0W}");
        return std::nullopt;
    }
    return parsed;
}

std::string CNumberTemplate::Expand(std::int32_t number) const {
    std::string text;
    for (const Piece& piece : pieces_) {
        switch (piece.kind) {
            case Piece::kText:
                text += piece.text;
                break;
            case Piece::kNumber:
                text += FormatText("%0*d", piece.width, number);
                break;
            case Piece::kThousands:
                text += std::to_string(number / 1000);
                break;
        }
    }
    return text;
}
