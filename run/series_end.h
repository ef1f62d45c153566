#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

// Tells the end of a live series from documents missing in its middle. A number answered "not
// found" is held back, neither finished nor failed, until a number stored above it shows it to
// be a gap (a failure then), or until `endAfter` held numbers stand in a row: the series ends, for
// now, at the first of them. A failure among them is no stored document: it neither breaks the
// row nor counts in it. A row that reaches the largest number there is ends the series however
// short it is. Not thread-safe: the run controller guards it.
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
    // A number that failed for another reason (and is recorded as failed).
    void Failed(std::int32_t number);
    // The first number of the run of missing numbers that ends the series, once there is one.
    std::optional<std::int32_t> EndAt() const { return endAt_; }
    // The numbers held back now.
    std::size_t Held() const { return held_.size(); }

  private:
    // Failures remembered above the highest stored number: enough for every report still under
    // way, without growing with a site that fails everything.
    static constexpr std::size_t kMaxFailuresKept = 4096;

    // Whether `number` was answered without being stored: held, or failed.
    bool Unstored(std::int32_t number) const;
    // The lowest number of the row of unstored numbers that holds `number`.
    std::int32_t RunBottom(std::int32_t number) const;
    // The lowest held number of the row that holds the held number `held`.
    std::int32_t RunStart(std::int32_t held) const;
    // The highest number of that row.
    std::int32_t RunEnd(std::int32_t number) const;
    // Ends the series where the row that holds `number` is long enough or reaches the top.
    void CheckEnd(std::int32_t number);

    int endAfter_ = kDefaultEndAfter;
    std::map<std::int32_t, Missing> held_;
    std::set<std::int32_t> failed_;  // failures above the highest stored number
    std::optional<std::int32_t> highestStored_;
    std::optional<std::int32_t> endAt_;
};
