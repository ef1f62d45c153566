// What a task decides after each outcome, as one table of scenarios on a clock of its own:
// no threads, no sockets.
#include "run/task_judge.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

namespace {

// A scenario is a list of steps, each a line:
//   ask N            the next number asked is N (ask - : none now; asks N..M : each in turn)
//   N..M ANSWER      each number of the range answers so; the verdict for each must be
//                    `-> held`, `-> failed`, or `-> stored` (or none: no check)
//   ... , lists A B  the verdict also lists these numbers held before as failures
//   wait MS          the clock moves on
//   stop TEXT        the task stops the run, with TEXT in its message (stop - : it does not)
//   wall TEXT        a wall was met, with TEXT in its message
//   end N            the series ends at N (end - : it has no end now)
//   down / up        the site does not answer / answers again
// Answers: stored, 404, rule (a page missing_if_body marks), 301, 403, 429, 500, time, tls, cert.
struct Scenario {
    const char* name;
    std::vector<std::string> steps;
    bool open = true;
    bool storedBefore = false;
    int endAfter = 5;
};

FetchFailure AnswerNamed(const std::string& name) {
    if (name == "404") {
        return {FetchError::kStatus, 404};
    }
    if (name == "rule") {
        return {FetchError::kMissingPage, 200, "missing_if_body"};
    }
    if (name == "time") {
        return {FetchError::kTimeLimit};
    }
    if (name == "cert") {
        return {FetchError::kTls, 0, "certificate verify failed: unable to get local issuer"};
    }
    if (name == "429") {
        FetchFailure wait(FetchError::kStatus, 429);
        wait.retryAfter = std::chrono::seconds(2);
        return wait;
    }
    if (name == "301") {
        return {FetchError::kStatus, 301, "http://h/x"};
    }
    return {FetchError::kStatus, std::stoi(name)};
}

std::string Listed(const CTaskJudge::Verdict& verdict) {
    std::string numbers;
    for (const CSeriesEnd::Missing& failure : verdict.failures) {
        if (!numbers.empty()) {
            numbers += ' ';
        }
        numbers += std::to_string(failure.number);
    }
    return numbers;
}

class TaskJudgeTest : public ::testing::TestWithParam<Scenario> {
  protected:
    void Play(const Scenario& scenario) {
        CTaskJudge::Settings settings;
        settings.open = scenario.open;
        settings.first = 1000;
        settings.endAfter = scenario.endAfter;
        settings.askAgainEvery = std::chrono::seconds(60);
        settings.storedBefore = scenario.storedBefore;
        judge_.Begin(settings, now_);
        for (const std::string& step : scenario.steps) {
            SCOPED_TRACE(step);
            std::istringstream words(step);
            std::string first;
            words >> first;
            std::string rest;
            std::getline(words, rest);
            rest = rest.empty() ? rest : rest.substr(1);
            if (first == "ask" || first == "asks") {
                Expect(rest);
            } else if (first == "wait") {
                now_ += std::chrono::milliseconds(std::stoll(rest));
            } else if (first == "stop" && rest == "-") {
                EXPECT_FALSE(judge_.Stopped());
            } else if (first == "stop") {
                ASSERT_TRUE(judge_.Stopped());
                EXPECT_NE(judge_.Stopped()->message.find(rest), std::string::npos)
                    << judge_.Stopped()->message;
            } else if (first == "wall") {
                const std::optional<std::string> wall = judge_.TakeWall();
                ASSERT_TRUE(wall);
                EXPECT_NE(wall->find(rest), std::string::npos) << *wall;
            } else if (first == "end") {
                EXPECT_EQ(judge_.EndAt().value_or(-1), rest == "-" ? -1 : std::stoi(rest));
            } else if (first == "down" || first == "up") {
                EXPECT_EQ(judge_.SiteDownSince().has_value(), first == "down");
            } else {
                Answer(first, rest);
            }
        }
    }

  private:
    void Expect(const std::string& numbers) {
        const std::size_t dots = numbers.find("..");
        if (numbers == "-") {
            EXPECT_FALSE(Take());
            return;
        }
        const int from = std::stoi(numbers);
        const int to = dots == std::string::npos ? from : std::stoi(numbers.substr(dots + 2));
        for (int number = from; number <= to; ++number) {
            EXPECT_EQ(Take().value_or(-1), number);
        }
    }
    std::optional<std::int32_t> Take() {
        const std::optional<CTaskJudge::Ask> ask = judge_.Take(now_, [this] { return next_++; });
        return ask ? std::optional(ask->number) : std::nullopt;
    }
    void Answer(const std::string& range, const std::string& rest) {
        const std::size_t dots = range.find("..");
        const int from = std::stoi(range);
        const int to = dots == std::string::npos ? from : std::stoi(range.substr(dots + 2));
        const std::string answer = rest.substr(0, rest.find(' '));
        const std::size_t arrow = rest.find("-> ");
        const std::string expected =
            arrow == std::string::npos ? ""
                                       : rest.substr(arrow + 3, rest.find(',', arrow) - arrow - 3);
        const std::size_t lists = rest.find("lists ");
        for (int number = from; number <= to; ++number) {
            const CTaskJudge::Verdict verdict =
                judge_.Judge(number, "http://h/t/" + std::to_string(number), answer == "stored",
                             answer == "stored" ? FetchFailure() : AnswerNamed(answer), now_);
            const char* kind = verdict.kind == CTaskJudge::Verdict::Kind::kStored   ? "stored"
                               : verdict.kind == CTaskJudge::Verdict::Kind::kFailed ? "failed"
                                                                                    : "held";
            if (!expected.empty()) {
                EXPECT_EQ(kind, expected) << number;
            }
            if (number == to) {
                EXPECT_EQ(Listed(verdict),
                          lists == std::string::npos ? "" : rest.substr(lists + 6));
            }
        }
    }

    CTaskJudge judge_;
    CRunClock::TimePoint now_{std::chrono::hours(1)};
    std::int32_t next_ = 1000;
};

TEST_P(TaskJudgeTest, DecidesAsTheScenarioSays) {
    Play(GetParam());
}

INSTANTIATE_TEST_SUITE_P(
    Scenarios, TaskJudgeTest,
    ::testing::Values(
        // The end of a series, a gap in it, and the question at its end every 60 s.
        Scenario{"SeriesEnd",
                 {"asks 1000..1008", "1000 stored -> stored", "1001 404 -> held",
                  "1002 stored -> stored, lists 1001", "1003..1006 404 -> held", "end -",
                  "1007 404 -> held", "end 1003", "1008 404 -> held", "ask -", "wait 59999",
                  "ask -", "wait 1", "ask 1003", "ask -", "1003 stored -> stored",
                  "asks 1004..1008", "ask 1009"}},
        // A site that asks to wait: the number again when it allows, failed at the fifth.
        Scenario{"Wait",
                 {"asks 1000..1001", "1000 stored", "1001 429 -> held", "ask 1002", "wait 1999",
                  "ask 1003", "wait 1", "ask 1001", "1001 429 -> held", "1001 429 -> held",
                  "1001 429 -> held", "1001 429 -> failed"}},
        // A wall once documents came; a refusal before any.
        Scenario{"Wall",
                 {"asks 1000..1002", "1000 403 -> held", "1001 stored -> stored, lists 1000",
                  "1002 403 -> held", "wall h now asks for a login (status 403)", "ask 1002"}},
        // Twenty of one kind before anything was stored: the run stops, nothing listed.
        Scenario{"Storm",
                 {"asks 1000..1019", "1000..1018 301 -> held", "1019 301 -> held",
                  "stop every document is moved (301): --http1.1 follows redirects", "ask -",
                  "1020 stored -> stored"}},
        Scenario{"StormOfTheCertificate",
                 {"asks 1000..1019", "1000..1019 cert -> held",
                  "stop the site's certificate is not trusted"}},
        // Nineteen of one kind and another failure: no storm, all of them listed.
        Scenario{"NoStormAfterAnotherFailure",
                 {"asks 1000..1019", "1000..1018 301 -> held",
                  "1019 500 -> failed, lists "
                  "1000 1001 1002 1003 1004 1005 1006 1007 1008 1009 1010 1011 1012 1013 1014 "
                  "1015 1016 1017 1018",
                  "ask 1020"}},
        Scenario{"NoStormAfterADocument",
                 {"asks 1000..1003", "1000..1002 301 -> held",
                  "1003 stored -> stored, lists 1000 1001 1002", "1004 301 -> failed"}},
        // A rule that marks every page missing before any was stored ends no series; the
        // page it names is the first of the series, whichever answer came back first.
        Scenario{"RuleTakesAll",
                 {"asks 1000..1004", "1001..1004 rule -> held", "1000 rule -> held",
                  "stop missing_if_body marks every page missing from 1000 on (the first: "
                  "http://h/t/1000): check the rule",
                  "ask -"}},
        Scenario{"RuleWithADocumentBefore",
                 {"asks 1000..1004", "1000..1004 rule -> held", "end 1000", "stop -", "ask -"},
                 true,
                 true},
        Scenario{"RuleAndAStatus",
                 {"asks 1000..1004", "1000..1003 rule -> held", "1004 404 -> held", "end 1000",
                  "stop -"}},
        // Twenty silent failures later in a run: the site is down; its first number is asked
        // every 60 s, nothing new, and all of them again once it answers.
        Scenario{"SiteDown",
                 {"asks 1000..1020", "1000 stored", "1001..1020 time -> held", "down", "ask -",
                  "wait 60000", "ask 1001", "ask -", "1001 time -> held", "wait 60000", "ask 1002",
                  "1002 stored -> stored", "up", "asks 1003..1020", "ask 1001", "ask 1021"}},
        Scenario{"NotDownAfterNineteen",
                 {"asks 1000..1020", "1000 stored", "1001..1019 time -> held",
                  "1020 stored -> stored, lists 1001 1002 1003 1004 1005 1006 1007 1008 1009 "
                  "1010 1011 1012 1013 1014 1015 1016 1017 1018 1019",
                  "up", "ask 1021"}},
        // A range has no end of its own but its last number: a missing one is a failure.
        Scenario{
            "Range", {"asks 1000..1001", "1000 stored", "1001 404 -> failed", "end -"}, false}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
