#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/page_rules.h"

// The site's answer for numbers it does not have, as the start's probe saw it for two of them.
// What the two answers have in common is the page; where they differ (the number, a request's
// id, a time) are its variable places. A page is like it when it is the same outside those
// places and each place holds what such a place held: digits where the samples had digits,
// letters and digits where they had an id, and no more of them than a number or an id takes. So a
// site's "not found" page that names its number is known again for any number, and a document
// that differs from it in one short line is not.
//
// Only what the probe read is compared: the first PageRules::kBodySearched bytes. Immutable once
// made; any number of threads may ask it at once.
class CPageLikeness {
  public:
    // The likeness of the answers `first` and `second` (the same page twice when there is only
    // one), or none when they differ too much to tell such a page by.
    static std::optional<CPageLikeness> Of(const PageSample& first, const PageSample& second);

    // Whether a page is like the site's answer, given its first bytes (up to kBodySearched) and
    // whether they are all of it.
    bool Matches(std::string_view start, bool whole) const;

  private:
    // One variable place: what may stand there, and how much of it.
    struct Place {
        bool digits = false, letters = false, wide = false;  // wide: bytes above 127
        std::string others;                                  // any other byte seen there
        std::size_t longest = 0;
        bool Takes(unsigned char byte) const;
    };
    // The page as fixed texts with a place between each two; `places[i]` lies after
    // `fixed[i]`, and `fixed` has one text more than `places`.
    std::vector<std::string> fixed_;
    std::vector<Place> places_;
    bool whole_ = true;  // the samples were the whole answer
};
