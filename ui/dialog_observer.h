#pragma once

#include <string>

#include "run/run_observer.h"
#include "ui/dialog_logic.h"
#include "ui/main_dialog_template.h"

// The main dialog's run observer, the same for every toolkit: what the run says, put into the
// controls through the few primitives each window layer provides.
class CDialogObserver : public CRunObserver {
  public:
    // A label's text; from any thread, applied on the window's thread in call order.
    virtual void SetText(int id, const std::string& text) = 0;

  protected:
    virtual void SetNumber(int id, int value) = 0;
    virtual void SetCheck(int id, bool checked) = 0;
    virtual void EnableControl(int id, bool enabled) = 0;
    // The bar: the stored documents among the finished ones.
    virtual void ShowProgress(int finished, int stored) = 0;
    // Modal, with an OK button, captioned with the application title; the window's messages
    // (timers, texts) go on while it is shown.
    virtual void ShowMessage(const std::string& text) = 0;

  private:
    void OnSettings(const TaskSettings& record) override {
        ShowPlace(record);
        SetNumber(IDC_DELAY, record.timeout);
    }
    void OnStatus(const RunCounts& counts, const TaskSettings& record) override {
        SetText(IDC_COUNTS, counts.Line());
        ShowPlace(record);
        ShowProgress(counts.succeeded + counts.failed, counts.succeeded);
    }
    void OnJobReport(const std::string& url, JobOutcome outcome) override {
        SetText(IDC_STATUS, url);
        SetText(IDC_DETAIL, OutcomeText(outcome));
    }
    void OnPhase(RunPhase phase) override { UpdateButtons(phase); }
    void OnSeriesEnd(std::int32_t jobKind, std::int32_t number,
                     std::chrono::milliseconds askAgainEvery) override {
        SetText(IDC_STATUS, SeriesEndText(jobKind, number, askAgainEvery));
    }
    void OnSiteDown(std::int32_t jobKind, const std::string& since,
                    std::chrono::milliseconds askAgainEvery) override {
        SetText(IDC_STATUS, SiteDownText(jobKind, since, askAgainEvery));
    }
    void OnStartRefused(const std::string& reason) override { ShowMessage(reason); }
    // A warning of the Start (the probe's, a cookie file's) is in the notice too.
    void OnStartNotice() override {
        ShowMessage(startWarnings_.empty() ? std::string(kStartNotice)
                                           : kStartNotice + std::string("\n\n") + startWarnings_);
        startWarnings_.clear();
    }
    void OnWaitForWorkers() override { ShowMessage(kWaitMessage); }
    void OnRunStopped(const std::string& reason) override { ShowMessage(reason); }
    void OnSiteWall(const std::string& message) override {
        SetText(IDC_STATUS, message);
        ShowMessage(message);
    }
    void OnWarning(const std::string& text) override {
        SetText(IDC_STATUS, text);
        startWarnings_ += (startWarnings_.empty() ? "" : "\n") + text;
    }

    std::string startWarnings_;  // told before the notice, shown in it

    void UpdateButtons(RunPhase phase) {
        for (const auto& [id, enabled] : ButtonsFor(phase)) {
            EnableControl(id, enabled != 0);
        }
    }
    void ShowPlace(const TaskSettings& record) {
        for (const auto& [id, value] : PlaceOf(record)) {
            if (id == IDC_BBS_CHECK || id == IDC_DOCUMENT_CHECK) {
                SetCheck(id, value != 0);
            } else {
                SetNumber(id, value);
            }
        }
    }
};
