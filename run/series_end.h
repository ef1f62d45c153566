#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

// Tells the end of a live series from documents missing in its middle. A number answered "not
// found" is held back, neither finished nor failed, until a number stored above it shows it to
// be a gap (a failure then), or until `endAfter` held numbers stand in a row: the series ends, for
// now, at the first of them. Not thread-safe: the run controller guards it.
class CSeriesEnd {
  public:
    static constexpr int kDefaultEndAfter = 100;

    // A number answered "not found", with what failed.txt says of it should it be a gap.
    struct Missing {
        std::int32_t number = 0;
        std::string url;
        std::string reason;
    };
    // What a stored number settles: the held numbers below it, gaps in rising order; and, when
    // it shows the series going on past its end, the held numbers above it, to be asked again.
    struct Settled {
        std::vector<Missing> gaps;
        std::vector<std::int32_t> askAgain;
    };

    // Forgets everything, for a run that ends a series after `endAfter` missing numbers in a row.
    void Begin(int endAfter);
    // Holds a number answered "not found"; false when a stored number above it already showed
    // it to be a gap, which is then a failure at once.
    bool Hold(Missing missing);
    Settled Stored(std::int32_t number);
    // The first number of the run of missing numbers that ends the series, once there is one.
    std::optional<std::int32_t> EndAt() const { return endAt_; }
    // The numbers held back now.
    std::size_t Held() const { return held_.size(); }

  private:
    // The lowest number of the run of held numbers that holds `number`.
    std::int32_t RunStart(std::int32_t number) const;
    std::int32_t RunEnd(std::int32_t number) const;

    int endAfter_ = kDefaultEndAfter;
    std::map<std::int32_t, Missing> held_;
    std::optional<std::int32_t> highestStored_;
    std::optional<std::int32_t> endAt_;
};
