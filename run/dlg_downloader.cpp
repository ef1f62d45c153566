#include "run/dlg_downloader.h"

#include "run/run_controller.h"

void CDlgDownloader::OnJobDone(int result, const char* url, const char* path,
                               std::unique_ptr<JobTag> tag, const FetchFailure& failure) {
    const JobTag noTag{0, -1};  // a job without a tag records no number
    dialog_->OnJobDone(result, url, tag ? *tag : noTag, failure, path != nullptr ? path : "");
}
