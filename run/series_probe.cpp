#include "run/series_probe.h"

#include <chrono>

CSeriesProbe::~CSeriesProbe() {
    if (Running()) {
        Cancel();
        thread_.join();
    }
}

void CSeriesProbe::Begin(std::unique_ptr<CHttpGetter> getter, std::vector<Question> questions) {
    getter_ = std::move(getter);
    questions_ = std::move(questions);
    answers_.clear();
    finished_ = false;
    thread_ = std::thread(&CSeriesProbe::Ask, this);
}

void CSeriesProbe::Ask() {
    for (const Question& question : questions_) {
        Answer answer{question.kind, question.urls.front(), {}, false};
        for (const std::string& url : question.urls) {
            PageSample sample;
            FetchFailure failure;
            const bool document = getter_->Sample(url, sample, &failure, &question.rules) == 1;
            answer.documents.push_back(document ? std::optional(std::move(sample)) : std::nullopt);
            answer.cutOff = answer.cutOff || failure.error == FetchError::kCutOff;
        }
        answers_.push_back(std::move(answer));
    }
    finished_ = true;
}

void CSeriesProbe::Cancel() {
    if (getter_) {
        getter_->CutOffAfter(std::chrono::milliseconds(0));
    }
}

std::vector<CSeriesProbe::Answer> CSeriesProbe::Take() {
    if (thread_.joinable()) {
        thread_.join();
    }
    getter_.reset();
    return std::move(answers_);
}
