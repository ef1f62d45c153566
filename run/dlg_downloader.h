#pragma once

#include "engine/downloader.h"

class CRunController;

// The run's downloader: its completions go to the run controller of the main window.
class CDlgDownloader : public CDownloader {
  public:
    explicit CDlgDownloader(CRunController* dialog) : dialog_(dialog) {}
    // Frees the tag after the controller has taken its number.
    void OnJobDone(int result, const char* url, const char* path, std::unique_ptr<JobTag> tag,
                   const FetchFailure& failure) override;

  private:
    CRunController* dialog_;  // not owned
};
