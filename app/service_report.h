#pragma once

#include <string>

// novudl's messages on standard error. Where that is the journal, each line carries its
// priority, so that an error shows as one; elsewhere the lines are plain text.
enum class Priority { kError = 3, kWarning = 4, kNotice = 5, kInfo = 6 };
void Say(Priority priority, const std::string& text);

// What a run tells the service manager that started it: ready once it runs, its counts as the
// service's status, stopping once it ends. Nothing where no manager listens.
class CServiceNotifier {
  public:
    void Ready();
    void Status(const std::string& counts);
    void Stopping();

  private:
    bool ready_ = false;
    bool stopping_ = false;
    std::string status_;
};
