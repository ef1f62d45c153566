#include "run/task_judge.h"

#include <algorithm>

#include "engine/page_rules.h"
#include "engine/url.h"
#include "support/text_format.h"

namespace {

std::string SiteOf(const std::string& url) {
    const std::optional<Url> parsed = ParseUrl(url);
    return parsed ? parsed->Authority() : url;
}

// How long to leave the site alone after it asked for it.
std::chrono::seconds SiteWait(const FetchFailure& failure) {
    return failure.retryAfter ? std::min(*failure.retryAfter, kLongestSiteWait) : kDefaultSiteWait;
}

// The kind of a failure, without what differs from number to number (the URL a redirect leads
// to): failures of one kind say the same of the site.
std::string FailureKey(const FetchFailure& failure) {
    std::string key =
        std::to_string(static_cast<int>(failure.error)) + "/" + std::to_string(failure.detail);
    if (failure.error == FetchError::kTls) {
        key += '/';
        key.append(failure.text, 0, failure.text.find(':'));
    }
    return key;
}

// What helps when every document fails the way `failure` does.
std::string StormHelp(const FetchFailure& failure) {
    switch (failure.error) {
        case FetchError::kStatus:
            if (IsRedirect(failure.detail)) {
                return FormatText("every document is moved (%d): --http1.1 follows redirects",
                                  failure.detail);
            }
            if (failure.detail == 401 || failure.detail == 403) {
                return FormatText(
                    "every document is refused (%d): the site may want its cookies "
                    "(http.cookies) or a browser's User-Agent",
                    failure.detail);
            }
            return FormatText("every document is refused (status %d): check the base URL",
                              failure.detail);
        case FetchError::kTls:
            if (failure.text.starts_with("certificate verify failed")) {
                return "the site's certificate is not trusted (" + failure.text +
                       "): SSL_CERT_FILE names a private CA";
            }
            return "the site's TLS fails (" + failure.text + ")";
        case FetchError::kRedirectedAway:
            return "every document leads to another site: check the base URL";
        case FetchError::kNoSuchHost:
            return "the site's name does not resolve: check the base URL";
        case FetchError::kConnect:
        case FetchError::kProxyConnect:
            return "the site cannot be reached (" + DescribeFetchFailure(failure) +
                   "): check the base URL, its port and the proxy";
        case FetchError::kTimeLimit:
            return "the site does not answer within the Delay";
        default:
            return "every document fails (" + DescribeFetchFailure(failure) +
                   "): check the base URL";
    }
}

// Whether a failure is what a site gives that does not answer at all.
bool IsSilence(const FetchFailure& failure) {
    switch (failure.error) {
        case FetchError::kNoSuchHost:
        case FetchError::kConnect:
        case FetchError::kProxyConnect:
        case FetchError::kTimeLimit:
        case FetchError::kTls:
        case FetchError::kClosedBeforeAnswer:
        case FetchError::kReceive:
        case FetchError::kSend:
            return true;
        default:
            return false;
    }
}

// The rule a missing page's failure names, as the user wrote it.
std::string RuleName(const FetchFailure& failure) {
    return failure.text.starts_with("Content-Type") ? std::string("expect") : failure.text;
}

}  // namespace

void CTaskJudge::Begin(const Settings& settings, TimePoint now) {
    *this = CTaskJudge();
    settings_ = settings;
    series_.Begin(settings.endAfter);
    pace_.Begin(settings.rate, now);
    storedSome_ = settings.storedBefore;
    stormWatch_ = settings.manyNumbers;
}

std::optional<std::int32_t> CTaskJudge::EndAt() const {
    return settings_.open ? series_.EndAt() : std::nullopt;
}

bool CTaskJudge::AtItsEnd() const {
    // A task that stopped the run is at no end: the stop is what the run tells.
    return EndAt() && askAgain_.empty() && askLater_.empty() && !downSince_ && !stop_;
}

std::optional<CTaskJudge::TimePoint> CTaskJudge::SiteDownSince() const {
    return downSince_;
}

std::vector<CSeriesEnd::Missing> CTaskJudge::Release() {
    Verdict verdict;
    if (!stop_) {
        EndOfStormWatch(verdict);
    }
    if (!downSince_) {
        Release(down_, verdict);
    }
    return std::move(verdict.failures);
}

std::optional<std::string> CTaskJudge::TakeWall() {
    std::optional<std::string> wall;
    wall.swap(wall_);
    return wall;
}

CTaskJudge::Verdict CTaskJudge::Judge(std::int32_t number, const std::string& url, bool stored,
                                      const FetchFailure& failure, TimePoint now) {
    if (stored) {
        return Stored(number);
    }
    if (const std::optional<std::string> wall = WallMessage(number, url, failure)) {
        // Asked again once the user has acted: neither finished nor counted.
        timesAsked_.erase(number);
        askLater_.emplace(now, number);
        if (!wall_) {
            wall_ = *wall;
        }
        return {};
    }
    std::string reason = DescribeFetchFailure(failure);
    const Answer answer = ClassifyFailure(failure);
    if (answer == Answer::kWait) {
        if (++timesAsked_[number] < kTimesAskedBeforeFailing) {
            return Wait(number, url, failure, now);
        }
        reason += FormatText(" (asked %d times)", kTimesAskedBeforeFailing);
    }
    timesAsked_.erase(number);
    if (answer == Answer::kMissing) {
        return Missing(number, url, failure, reason, now);
    }
    return Failed(number, url, failure, reason, now);
}

CTaskJudge::Verdict CTaskJudge::Wait(std::int32_t number, const std::string&,
                                     const FetchFailure& failure, TimePoint now) {
    const TimePoint due = now + SiteWait(failure);
    pace_.SlowDown(failure.detail, now);
    askLater_.emplace(due, number);
    siteFreeAt_ = std::max(siteFreeAt_, due);
    Verdict verdict;
    SiteAnswers(verdict);
    return verdict;
}

std::optional<std::string> CTaskJudge::WallMessage(std::int32_t number, const std::string& url,
                                                   const FetchFailure& failure) const {
    if (settings_.onWall == RunRequest::SiteWall::kFail) {
        return std::nullopt;
    }
    const std::string site = SiteOf(url);
    if (failure.challenge) {
        const auto asked = timesAsked_.find(number);
        if ((asked == timesAsked_.end() ? 0 : asked->second) + 1 >= kTimesAskedBeforeFailing) {
            return site +
                   " shows a browser challenge: export its cookies (cf_clearance) and the "
                   "browser's User-Agent";
        }
        return std::nullopt;
    }
    if (!storedSome_) {
        return std::nullopt;  // before any document, a refusal is an ordinary failure
    }
    if (failure.error == FetchError::kLoginPage) {
        return site +
               " now shows its login page (wall_if_body): add its cookies (http.cookies) and "
               "press Resume";
    }
    if (failure.error == FetchError::kStatus &&
        (failure.detail == 401 || failure.detail == 403 ||
         (IsRedirect(failure.detail) && LooksLikeLogin(failure.text)))) {
        return FormatText(
            "%s now asks for a login (status %d): add its cookies (http.cookies) and press Resume",
            site.c_str(), failure.detail);
    }
    return std::nullopt;
}

void CTaskJudge::Release(std::vector<Kept>& kept, Verdict& verdict) {
    for (Kept& failure : kept) {
        verdict.failures.push_back(std::move(failure.missing));
    }
    kept.clear();
}

void CTaskJudge::SiteAnswers(Verdict& verdict) {
    if (!downSince_) {
        Release(down_, verdict);  // failures in a row, but too few to call the site down
        return;
    }
    // The site is back: what failed while it was away is asked again.
    for (const Kept& failure : down_) {
        askAgain_.push_back(failure.missing.number);
    }
    down_.clear();
    downSince_.reset();
}

void CTaskJudge::EndOfStormWatch(Verdict& verdict) {
    stormWatch_ = false;
    Release(storm_, verdict);
}

CTaskJudge::Verdict CTaskJudge::Stored(std::int32_t number) {
    storedSome_ = storedThisRun_ = true;
    timesAsked_.erase(number);
    Verdict verdict;
    verdict.kind = Verdict::Kind::kStored;
    EndOfStormWatch(verdict);
    SiteAnswers(verdict);
    if (settings_.open) {
        CSeriesEnd::Settled settled = series_.Stored(number);
        for (CSeriesEnd::Missing& gap : settled.gaps) {
            verdict.failures.push_back(std::move(gap));
        }
        askAgain_.insert(askAgain_.end(), settled.askAgain.begin(), settled.askAgain.end());
    }
    return verdict;
}

CTaskJudge::Verdict CTaskJudge::Missing(std::int32_t number, const std::string& url,
                                        const FetchFailure& failure, const std::string& reason,
                                        TimePoint now) {
    Verdict verdict;
    EndOfStormWatch(verdict);  // the site's word that a document is not there is no storm
    SiteAnswers(verdict);
    if (!settings_.open) {
        verdict.kind = Verdict::Kind::kFailed;
        verdict.reason = reason;
        return verdict;
    }
    if (!storedSome_) {
        if (failure.error == FetchError::kMissingPage) {
            if (!firstByRule_ || number < firstByRule_->number) {
                firstByRule_ = CSeriesEnd::Missing{number, url, RuleName(failure)};
            }
        } else {
            ++missingByStatus_;
        }
    }
    const bool wasAtEnd = series_.EndAt().has_value();
    if (!series_.Hold({number, url, reason})) {
        verdict.kind = Verdict::Kind::kFailed;  // below a stored number: a gap at once
        verdict.reason = reason;
        return verdict;
    }
    if (!wasAtEnd && series_.EndAt()) {
        nextProbe_ = now + settings_.askAgainEvery;
        // Not one page of the task was ever stored, and every missing one a rule took: that
        // is the rule's doing, not the end of the series.
        if (!storedSome_ && missingByStatus_ == 0 && firstByRule_) {
            const std::string& rule = firstByRule_->reason;
            const bool likeness = rule == kSameAsTheMissingPage;
            stop_ = Stop{
                Stop::Why::kRuleTakesAll,
                likeness
                    ? FormatText("every page from %d on is like the site's answer for a number it "
                                 "does not have (the first: %s): the series may begin later, or "
                                 "the site shows one page for every number",
                                 settings_.first, firstByRule_->url.c_str())
                    : FormatText("%s marks every page missing from %d on (the first: %s): check "
                                 "the rule",
                                 rule.c_str(), settings_.first, firstByRule_->url.c_str())};
        }
    }
    return verdict;
}

CTaskJudge::Verdict CTaskJudge::Failed(std::int32_t number, const std::string& url,
                                       const FetchFailure& failure, const std::string& reason,
                                       TimePoint now) {
    Verdict verdict;
    if (settings_.open) {
        series_.Failed(number);
    }
    if (stop_) {
        return verdict;  // the run stops here: the number stays to be asked again
    }
    if (failure.error == FetchError::kCutOff) {
        verdict.kind = Verdict::Kind::kFailed;  // the user's doing, not the site's
        verdict.reason = reason;
        return verdict;
    }
    Kept kept{{number, url, reason}, FailureKey(failure)};
    if (stormWatch_) {
        if (storm_.empty() || storm_.front().key == kept.key) {
            storm_.push_back(std::move(kept));
            if (storm_.size() == static_cast<std::size_t>(kStormCount)) {
                stop_ = Stop{Stop::Why::kStorm,
                             FormatText("%s (the first of %d: %s)", StormHelp(failure).c_str(),
                                        kStormCount, storm_.front().missing.url.c_str())};
                // Not listed: the next run asks them again.
                stormWatch_ = false;
                storm_.clear();
            }
            return verdict;
        }
        EndOfStormWatch(verdict);
    }
    if (settings_.open && storedThisRun_ && IsSilence(failure)) {
        down_.push_back(std::move(kept));
        if (!downSince_ && down_.size() == static_cast<std::size_t>(kDownCount)) {
            downSince_ = now;
            nextDownProbe_ = now + settings_.askAgainEvery;
        }
        return verdict;  // held until it is known whether the site is down
    }
    SiteAnswers(verdict);
    verdict.kind = Verdict::Kind::kFailed;
    verdict.reason = reason;
    return verdict;
}

std::optional<CTaskJudge::Ask> CTaskJudge::Take(
    TimePoint now, const std::function<std::optional<std::int32_t>()>& plan) {
    if (!askLater_.empty() && askLater_.begin()->first <= now) {
        const std::int32_t number = askLater_.begin()->second;
        askLater_.erase(askLater_.begin());
        return Ask{number, true};  // the same document once more
    }
    if (stop_ || now < nextNew_) {
        return std::nullopt;
    }
    std::optional<std::int32_t> number;
    if (downSince_) {
        // Nothing new while the site is away: only its first failure, now and then.
        if (now < nextDownProbe_ || down_.empty()) {
            return std::nullopt;
        }
        nextDownProbe_ = now + settings_.askAgainEvery;
        number = down_.front().missing.number;
        down_.erase(down_.begin());
    } else if (!askAgain_.empty()) {
        number = askAgain_.front();
        askAgain_.pop_front();
    } else if (const std::optional<std::int32_t> end = EndAt()) {
        if (now < nextProbe_) {
            return std::nullopt;
        }
        nextProbe_ = now + settings_.askAgainEvery;
        number = end;
    } else {
        number = plan();
    }
    if (!number) {
        return std::nullopt;
    }
    if (const std::chrono::milliseconds every = pace_.Interval(now, kGeneratorRate);
        every.count() > 0) {
        nextNew_ = (now - nextNew_ > every ? now : nextNew_) + every;
    }
    return Ask{*number, false};
}
