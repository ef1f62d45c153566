#include "engine/page_likeness.h"

#include <algorithm>
#include <cctype>

namespace {

// Edits beyond this many tokens make two answers too unlike to learn a page from.
constexpr int kMostEdits = 512;
// A fixed text shorter than this between two places is taken into them: a place is known by
// what follows it, and a few bytes are no mark.
constexpr std::size_t kShortestMark = 4;

bool IsDigit(unsigned char c) {
    return c >= '0' && c <= '9';
}
bool IsLetter(unsigned char c) {
    return std::isalpha(c) != 0 || c >= 0x80;
}

// What ids and numbers are written with.
bool IsWordByte(unsigned char c) {
    return IsDigit(c) || IsLetter(c) || c == '_' || c == '-';
}

// Runs of digits, runs of letters (bytes above 127 among them, so that a word of any script is
// one), and each other byte alone: a number or an id differs as a whole.
std::vector<std::string_view> Tokens(std::string_view text) {
    std::vector<std::string_view> tokens;
    for (std::size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        std::size_t end = i + 1;
        if (IsDigit(c) || IsLetter(c)) {
            const bool digits = IsDigit(c);
            while (end < text.size() &&
                   (digits ? IsDigit(static_cast<unsigned char>(text[end]))
                           : IsLetter(static_cast<unsigned char>(text[end])))) {
                ++end;
            }
        }
        tokens.push_back(text.substr(i, end - i));
        i = end;
    }
    return tokens;
}

enum class Op { kSame, kFirstOnly, kSecondOnly };

// The shortest edit script that turns `a` into `b` (E. Myers, "An O(ND) difference algorithm"),
// or none when it takes more than kMostEdits edits.
std::optional<std::vector<Op>> Diff(const std::vector<std::string_view>& a,
                                    const std::vector<std::string_view>& b) {
    const int n = static_cast<int>(a.size());
    const int m = static_cast<int>(b.size());
    const int most = std::min(n + m, kMostEdits);
    const int offset = most + 1;
    std::vector<int> v(2 * static_cast<std::size_t>(most) + 3, 0);
    std::vector<std::vector<int>> trace;
    for (int d = 0; d <= most; ++d) {
        trace.push_back(v);
        for (int k = -d; k <= d; k += 2) {
            int x = k == -d || (k != d && v[offset + k - 1] < v[offset + k + 1])
                        ? v[offset + k + 1]
                        : v[offset + k - 1] + 1;
            int y = x - k;
            while (x < n && y < m && a[x] == b[y]) {
                ++x;
                ++y;
            }
            v[offset + k] = x;
            if (x < n || y < m) {
                continue;
            }
            // Back along the path that reached both ends.
            std::vector<Op> ops;
            for (int step = d; step >= 0; --step) {
                const std::vector<int>& before = trace[step];
                const int kk = x - y;
                const int previous =
                    kk == -step || (kk != step && before[offset + kk - 1] < before[offset + kk + 1])
                        ? kk + 1
                        : kk - 1;
                const int previousX = step == 0 ? 0 : before[offset + previous];
                const int previousY = step == 0 ? 0 : previousX - previous;
                while (x > previousX && y > previousY) {
                    ops.push_back(Op::kSame);
                    --x;
                    --y;
                }
                if (step > 0) {
                    ops.push_back(x == previousX ? Op::kSecondOnly : Op::kFirstOnly);
                    x = previousX;
                    y = previousY;
                }
            }
            std::reverse(ops.begin(), ops.end());
            return ops;
        }
    }
    return std::nullopt;
}

}  // namespace

bool CPageLikeness::Place::Takes(unsigned char byte) const {
    if (IsDigit(byte)) {
        return digits;
    }
    if (byte >= 0x80) {
        return wide;
    }
    if (IsLetter(byte)) {
        return letters;
    }
    return others.find(static_cast<char>(byte)) != std::string::npos;
}

std::optional<CPageLikeness> CPageLikeness::Of(const PageSample& first, const PageSample& second) {
    const std::vector<std::string_view> a = Tokens(first.start);
    const std::vector<std::string_view> b = Tokens(second.start);
    // What both begin and end with needs no search for differences.
    std::size_t head = 0;
    while (head < a.size() && head < b.size() && a[head] == b[head]) {
        ++head;
    }
    std::size_t tail = 0;
    while (tail < a.size() - head && tail < b.size() - head &&
           a[a.size() - 1 - tail] == b[b.size() - 1 - tail]) {
        ++tail;
    }
    const std::vector<std::string_view> middleA(a.begin() + head, a.end() - tail);
    const std::vector<std::string_view> middleB(b.begin() + head, b.end() - tail);
    const std::optional<std::vector<Op>> middle = Diff(middleA, middleB);
    if (!middle) {
        return std::nullopt;
    }
    std::vector<Op> ops(head, Op::kSame);
    ops.insert(ops.end(), middle->begin(), middle->end());
    ops.insert(ops.end(), tail, Op::kSame);

    // Fixed texts and the places between them, each place with what either answer held there.
    std::vector<std::string> fixed(1);
    std::vector<std::pair<std::string, std::string>> held;
    bool inPlace = false;
    std::size_t ia = 0, ib = 0;
    for (const Op op : ops) {
        if (op == Op::kSame) {
            if (inPlace) {
                fixed.emplace_back();
                inPlace = false;
            }
            fixed.back().append(a[ia++]);
            ++ib;
            continue;
        }
        if (!inPlace) {
            held.emplace_back();
            inPlace = true;
        }
        (op == Op::kFirstOnly ? held.back().first : held.back().second)
            .append(op == Op::kFirstOnly ? a[ia++] : b[ib++]);
    }
    if (inPlace) {
        fixed.emplace_back();
    }
    // A place that begins or ends inside a word takes all of it: two ids of the same hour may
    // share their first letters, which a third does not.
    for (std::size_t i = 0; i < held.size(); ++i) {
        std::string& before = fixed[i];
        std::size_t cut = before.size();
        while (cut > 0 && IsWordByte(static_cast<unsigned char>(before[cut - 1]))) {
            --cut;
        }
        held[i].first.insert(0, before, cut);
        held[i].second.insert(0, before, cut);
        before.erase(cut);
        std::string& after = fixed[i + 1];
        std::size_t keep = 0;
        while (keep < after.size() && IsWordByte(static_cast<unsigned char>(after[keep]))) {
            ++keep;
        }
        held[i].first.append(after, 0, keep);
        held[i].second.append(after, 0, keep);
        after.erase(0, keep);
    }
    CPageLikeness likeness;
    likeness.whole_ = first.whole && second.whole;
    // A cut sample ends wherever 64 KiB did: what differs after the last mark is that cut.
    if (!likeness.whole_ && !held.empty() && fixed.back().empty()) {
        held.pop_back();
        fixed.pop_back();
    }
    likeness.fixed_.push_back(fixed[0]);
    for (std::size_t i = 0; i < held.size(); ++i) {
        std::string inFirst = held[i].first, inSecond = held[i].second;
        // A short mark between two places makes them one.
        while (i + 1 < held.size() && fixed[i + 1].size() < kShortestMark) {
            inFirst += fixed[i + 1] + held[i + 1].first;
            inSecond += fixed[i + 1] + held[i + 1].second;
            ++i;
        }
        Place place;
        for (const std::string* text : {&inFirst, &inSecond}) {
            for (const char c : *text) {
                const auto byte = static_cast<unsigned char>(c);
                place.digits = place.digits || IsDigit(byte);
                place.wide = place.wide || byte >= 0x80;
                place.letters = place.letters || (IsLetter(byte) && byte < 0x80);
                if (!IsDigit(byte) && !IsLetter(byte) && !place.Takes(byte)) {
                    place.others += c;
                }
            }
        }
        // An id of letters and digits may hold the other marks ids are written with.
        if (place.digits && place.letters) {
            for (const char mark : std::string_view("-_.+/=")) {
                if (!place.Takes(static_cast<unsigned char>(mark))) {
                    place.others += mark;
                }
            }
        }
        const bool number = !place.letters && !place.wide && place.others.empty();
        // A number may have up to ten digits, however many the samples had; an id keeps its
        // length, give or take.
        place.longest = std::max(inFirst.size(), inSecond.size()) + (number ? 10 : 16);
        likeness.places_.push_back(place);
        likeness.fixed_.push_back(fixed[i + 1]);
    }
    return likeness;
}

bool CPageLikeness::Matches(std::string_view page, bool whole) const {
    if (whole != whole_) {
        return false;  // a whole page is never like the start of a longer one, nor the reverse
    }
    // A cut page matches as far as it goes.
    const auto ranOut = [&](std::size_t at) { return !whole_ && at >= page.size(); };
    const auto fixedAt = [&](std::size_t at, const std::string& text) {
        const std::size_t length = std::min(text.size(), page.size() - std::min(at, page.size()));
        return page.compare(std::min(at, page.size()), length, text, 0, length) == 0 &&
               (length == text.size() || ranOut(at + length));
    };
    if (!fixedAt(0, fixed_[0])) {
        return false;
    }
    std::size_t at = fixed_[0].size();
    for (std::size_t i = 0; i < places_.size(); ++i) {
        const Place& place = places_[i];
        const std::string& next = fixed_[i + 1];
        const std::size_t limit = at + place.longest;
        std::size_t end = at;
        for (;; ++end) {
            if (ranOut(end)) {
                return true;
            }
            if (next.empty() ? end == page.size() : fixedAt(end, next)) {
                break;
            }
            if (end >= page.size() || end >= limit ||
                !place.Takes(static_cast<unsigned char>(page[end]))) {
                return false;
            }
        }
        at = end + next.size();
    }
    return !whole_ || at == page.size();
}
