#include "run/job_names.h"

#include "engine/url.h"
#include "run/task_kind.h"
#include "support/text_format.h"

namespace {

bool Refuse(std::string* why, const std::string& reason) {
    if (why != nullptr) {
        *why = reason;
    }
    return false;
}

// The path's folders and file with the platform's separator between them. Applied to an
// expansion: a template's own "/" may be part of a placeholder.
std::string NativePath(std::string path) {
    for (char& c : path) {
        if (c == '/' || c == '\\') {
            c = PathSeparator()[0];
        }
    }
    return path;
}

}  // namespace

std::string PathTemplateProblem(const std::string& pathTemplate) {
    std::string why;
    if (!CNumberTemplate::Parse(pathTemplate, &why)) {
        return why;
    }
    const bool drive = pathTemplate.size() >= 2 && pathTemplate[1] == ':';
    if (pathTemplate.front() == '/' || pathTemplate.front() == '\\' || drive) {
        return "must be relative to the task's folder";
    }
    if (pathTemplate.back() == '/' || pathTemplate.back() == '\\') {
        return "must name a file, not a folder";
    }
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = pathTemplate.find_first_of("/\\", start);
        const std::string part = pathTemplate.substr(start, end - start);
        if (part == "..") {
            return "must not leave the task's folder (\"..\")";
        }
        if (end == std::string::npos) {
            return {};
        }
        start = end + 1;
    }
}

std::string UrlTemplateProblem(const std::string& urlTemplate) {
    std::string why;
    const std::optional<CNumberTemplate> parsed = CNumberTemplate::Parse(urlTemplate, &why);
    if (!parsed) {
        return why;
    }
    const std::string longest = parsed->ExpandLongest();
    FetchFailure failure;
    if (!ParseUrl(longest, &failure)) {
        return failure.error == FetchError::kNameTooLong
                   ? FormatText("%s: at the largest number it would pass 259 characters (%s)",
                                DescribeFetchFailure(failure).c_str(), longest.c_str())
                   : DescribeFetchFailure(failure);
    }
    return {};
}

std::optional<CJobNamer> CJobNamer::Make(const std::string& appDirectory, std::int32_t kind,
                                         const std::string& url, const std::string& pathTemplate,
                                         std::string* why) {
    const TaskKind& task = TaskKindOf(kind);
    CJobNamer namer;
    namer.taskFolder_ = appDirectory + task.folder + PathSeparator();
    namer.urlExtension_ = task.urlExtension;
    namer.fileExtension_ = task.fileExtension;
    if (IsNumberTemplate(url)) {
        std::string problem;
        namer.url_ = CNumberTemplate::Parse(url, &problem);
        if (!namer.url_) {
            Refuse(why, FormatText("the URL %s: %s", url.c_str(), problem.c_str()));
            return std::nullopt;
        }
    } else {
        namer.base_ = url;
    }
    if (!pathTemplate.empty()) {
        if (const std::string problem = PathTemplateProblem(pathTemplate); !problem.empty()) {
            Refuse(why, FormatText("the path %s: %s", pathTemplate.c_str(), problem.c_str()));
            return std::nullopt;
        }
        namer.path_ = CNumberTemplate::Parse(pathTemplate);
        const std::string longest = namer.taskFolder_ + NativePath(namer.path_->ExpandLongest());
        if (!FitsPathBuffer(longest)) {
            Refuse(why, FormatText("the path %s: at the largest number it would pass 259 "
                                   "characters (%s)",
                                   pathTemplate.c_str(), longest.c_str()));
            return std::nullopt;
        }
    }
    return namer;
}

std::string CJobNamer::Url(std::int32_t number) const {
    return url_ ? url_->Expand(number)
                : FormatText("%s/%d/%d%s", base_.c_str(), number / 1000, number, urlExtension_);
}

JobNames CJobNamer::Names(std::int32_t number) const {
    JobNames names;
    names.url = Url(number);
    if (path_) {
        names.file = taskFolder_ + NativePath(path_->Expand(number));
        names.folder = names.file.substr(0, names.file.rfind(PathSeparator()[0]));
    } else {
        names.folder = FormatText("%s%d", taskFolder_.c_str(), number / 1000);
        names.file =
            FormatText("%s%s%d%s", names.folder.c_str(), PathSeparator(), number, fileExtension_);
    }
    return names;
}
