// The sample site: answers the program's requests for forum topics and articles on a loopback
// address, logs every request, and misbehaves on chosen numbers so that failures show.
//
//   sample_site [--port N] [--log FILE] [--faults LIST]     serve until interrupted
//   sample_site --print xml|shtm NUMBER                      write one document to stdout
#include <csignal>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <mutex>
#include <string>

#include "tools/sample_site/sample_documents.h"
#include "tools/server/scripted_server.h"

using namespace sample_site;

namespace {

int Usage() {
    std::fprintf(stderr,
                 "usage: sample_site [--port N] [--log FILE] [--faults LIST|none]\n"
                 "       sample_site --print xml|shtm NUMBER\n"
                 "LIST: kind:remainder pairs, kinds 404, 302, stall, short; remainder of the\n"
                 "document number modulo 100 (default %s)\n",
                 kDefaultFaultRules);
    return 2;
}

// Shows a raw request on one line: CR and LF written as \r and \n, other controls in hex.
std::string Escaped(const std::string& bytes) {
    std::string line;
    for (char c : bytes) {
        if (c == '\r') {
            line += "\\r";
        } else if (c == '\n') {
            line += "\\n";
        } else if (static_cast<unsigned char>(c) < 0x20) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02x", static_cast<unsigned char>(c));
            line += hex;
        } else {
            line += c;
        }
    }
    return line;
}

ServerScript Answer(const std::string& request, const std::vector<FaultRule>& rules) {
    const auto document = ParseRequest(request);
    if (!document) {
        return ServerScript().Send(HttpResponse(404, "not a document of this site\n"));
    }
    const std::string body = Document(document->series, document->number);
    const std::string type = document->series == Series::kTopic ? "text/xml" : "text/html";
    switch (FaultFor(rules, document->number)) {
        case Fault::kNotFound:
            return ServerScript().Send(
                "HTTP/1.0 404 Not Found\r\nContent-Type: text/plain\r\n\r\nmissing\n");
        case Fault::kRedirect:
            return ServerScript().Send("HTTP/1.0 302 Found\r\nLocation: http://127.0.0.1/\r\n\r\n");
        case Fault::kStall:
            return ServerScript()
                .Send("HTTP/1.0 200 OK\r\nContent-Type: " + type + "\r\n\r\n" +
                      body.substr(0, body.size() / 2))
                .Stall();
        case Fault::kShortBody:
            return ServerScript().Send("HTTP/1.0 200 OK\r\nContent-Type: " + type +
                                       "\r\nContent-Length: " + std::to_string(body.size()) +
                                       "\r\n\r\n" + body.substr(0, body.size() / 2));
        case Fault::kNone:
            break;
    }
    return ServerScript().Send("HTTP/1.0 200 OK\r\nContent-Type: " + type + "\r\nContent-Length: " +
                               std::to_string(body.size()) + "\r\n\r\n" + body);
}

}  // namespace

int main(int argc, char* argv[]) {
    int port = 80;
    std::string logPath;
    std::string faults = kDefaultFaultRules;
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        if (option == "--print" && i + 2 < argc) {
            const std::string kind = argv[i + 1];
            if (kind != "xml" && kind != "shtm")
                return Usage();
            const std::string text =
                Document(kind == "xml" ? Series::kTopic : Series::kArticle,
                         static_cast<std::int32_t>(std::strtol(argv[i + 2], nullptr, 10)));
            std::fwrite(text.data(), 1, text.size(), stdout);
            return 0;
        } else if (option == "--port" && i + 1 < argc) {
            port = std::atoi(argv[++i]);
        } else if (option == "--log" && i + 1 < argc) {
            logPath = argv[++i];
        } else if (option == "--faults" && i + 1 < argc) {
            faults = argv[++i];
        } else {
            return Usage();
        }
    }
    std::vector<FaultRule> rules;
    if (!ParseFaultRules(faults, rules)) {
        return Usage();
    }

    std::ofstream logFile;
    if (!logPath.empty()) {
        logFile.open(logPath, std::ios::app);
        if (!logFile) {
            std::fprintf(stderr, "sample_site: cannot write the log %s\n", logPath.c_str());
            return 1;
        }
    }
    std::ostream& log = logPath.empty() ? std::cout : logFile;
    std::mutex logMutex;

    // Signals are taken synchronously below, so block them before any thread starts.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    ScriptedServer server([&](const std::string& request) {
        {
            std::lock_guard<std::mutex> lock(logMutex);
            log << Escaped(request) << std::endl;
        }
        return Answer(request, rules);
    });
    server.SetRecordRequests(false);
    std::string error;
    if (!server.Start(port, &error)) {
        std::fprintf(stderr, "sample_site: cannot listen on 127.0.0.1:%d: %s\n", port,
                     error.c_str());
        if (port < 1024) {
            std::fprintf(
                stderr,
                "sample_site: ports below 1024 need root or the CAP_NET_BIND_SERVICE capability\n");
        }
        return 1;
    }
    std::fprintf(stderr, "sample_site: serving on http://127.0.0.1:%d/ (faults: %s)\n",
                 server.Port(), faults.c_str());
    int signal = 0;
    sigwait(&stopSignals, &signal);
    server.Stop();
    return 0;
}
