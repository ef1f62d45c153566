// The sample site: answers the program's requests for forum topics and articles on a loopback
// address, logs every request, and misbehaves on chosen numbers so that failures show.
//
//   sample_site [--port N] [--log FILE] [--faults LIST] [--pad KIB] [--drip MS] [--last N]
//               [--silent-past-the-end] [--slow-down N]
//                                                     serve until interrupted
//   sample_site [--pad KIB] --print xml|shtm NUMBER   write one document to stdout
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <mutex>
#include <set>
#include <string>

#include "support/decimal.h"
#include "tools/sample_site/sample_documents.h"
#include "tools/server/scripted_server.h"

using namespace sample_site;

namespace {

int Usage() {
    std::fprintf(
        stderr,
        "usage: sample_site [--port N] [--log FILE] [--faults LIST|none] [--pad KIB]\n"
        "                   [--drip MS] [--last N] [--silent-past-the-end] [--slow-down N]\n"
        "       sample_site [--pad KIB] --print xml|shtm NUMBER\n"
        "--port: 0 to 65535 (0: any free port; the port is printed)\n"
        "LIST: kind:remainder pairs, kinds 404, 302, stall, short; remainder of the\n"
        "document number modulo 100 (default %s)\n"
        "--pad: make every document KIB kibibytes larger\n"
        "--drip: send every document in 4 KiB pieces, 1 to 3 times MS milliseconds apart\n"
        "        (by the number), so that documents finish out of order\n"
        "--last: the series ends at N (9999999 unless given): every number above it is missing\n"
        "        (404)\n"
        "--silent-past-the-end: a request for a number above the last gets no answer at all\n"
        "--slow-down: the first request for every N-th number is answered 429 Too Many\n"
        "        Requests with Retry-After: 1\n",
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

// A whole decimal number within [low, high]; false for anything else.
bool ParseNumber(const char* text, long low, long high, long& value) {
    const std::optional<long> parsed = ParseDecimal<long>(text);
    value = parsed.value_or(0);
    return parsed && value >= low && value <= high;
}

int Refuse(const std::string& what) {
    std::fprintf(stderr, "sample_site: %s\n", what.c_str());
    return 2;
}

struct Options {
    std::vector<FaultRule> rules;
    std::size_t padBytes = 0;
    int dripMs = 0;
    long last = 9999999;     // the newest document of each series
    long slowDownEvery = 0;  // 0: the site never asks to slow down
    bool silentPastTheEnd = false;
};

ServerScript Deliver(const std::string& response, std::int32_t number, const Options& options) {
    const int pause = options.dripMs * (1 + static_cast<int>(((number % 3) + 3) % 3));
    return options.dripMs > 0 ? ServerScript().Drip(response, 4096, pause)
                              : ServerScript().Send(response);
}

ServerScript Answer(const std::string& request, const Options& options) {
    const auto document = ParseRequest(request);
    if (!document) {
        return ServerScript().Send(HttpResponse(404, "not a document of this site\n"));
    }
    const std::string body = Document(document->series, document->number, options.padBytes);
    const std::string type = document->series == Series::kTopic ? "text/xml" : "text/html";
    if (document->number > options.last && options.silentPastTheEnd) {
        return ServerScript().Stall();
    }
    const Fault fault = document->number > options.last ? Fault::kNotFound
                                                        : FaultFor(options.rules, document->number);
    switch (fault) {
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
    return Deliver("HTTP/1.0 200 OK\r\nContent-Type: " + type +
                       "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body,
                   document->number, options);
}

}  // namespace

int main(int argc, char* argv[]) {
    long port = 80;
    std::string logPath;
    std::string faults = kDefaultFaultRules;
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        const bool hasValue = i + 1 < argc;
        long value = 0;
        if (option == "--print" && i + 2 < argc) {
            const std::string kind = argv[i + 1];
            if (kind != "xml" && kind != "shtm")
                return Usage();
            if (!ParseNumber(argv[i + 2], INT32_MIN, INT32_MAX, value)) {
                return Refuse(std::string("not a document number: ") + argv[i + 2]);
            }
            const std::string text = Document(kind == "xml" ? Series::kTopic : Series::kArticle,
                                              static_cast<std::int32_t>(value), options.padBytes);
            std::fwrite(text.data(), 1, text.size(), stdout);
            return 0;
        } else if (option == "--port" && hasValue) {
            if (!ParseNumber(argv[++i], 0, 65535, port)) {
                return Refuse(std::string("not a port from 0 to 65535: ") + argv[i]);
            }
        } else if (option == "--log" && hasValue) {
            logPath = argv[++i];
        } else if (option == "--faults" && hasValue) {
            faults = argv[++i];
        } else if (option == "--pad" && hasValue) {
            if (!ParseNumber(argv[++i], 0, 1 << 20, value)) {
                return Refuse(std::string("not a size in KiB: ") + argv[i]);
            }
            options.padBytes = static_cast<std::size_t>(value) * 1024;
        } else if (option == "--drip" && hasValue) {
            if (!ParseNumber(argv[++i], 0, 60000, value)) {
                return Refuse(std::string("not a pause in milliseconds: ") + argv[i]);
            }
            options.dripMs = static_cast<int>(value);
        } else if (option == "--slow-down" && hasValue) {
            if (!ParseNumber(argv[++i], 1, INT32_MAX, options.slowDownEvery)) {
                return Refuse(std::string("not a number from 1: ") + argv[i]);
            }
        } else if (option == "--silent-past-the-end") {
            options.silentPastTheEnd = true;
        } else if (option == "--last" && hasValue) {
            if (!ParseNumber(argv[++i], 0, INT32_MAX, options.last)) {
                return Refuse(std::string("not a document number: ") + argv[i]);
            }
        } else {
            return Usage();
        }
    }
    if (!ParseFaultRules(faults, options.rules)) {
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

    std::set<std::pair<int, std::int32_t>> slowedDown;  // guarded by logMutex
    ScriptedServer server([&](const std::string& request) {
        bool slowDown = false;
        {
            std::lock_guard<std::mutex> lock(logMutex);
            log << Escaped(request) << std::endl;
            const auto document = ParseRequest(request);
            slowDown =
                options.slowDownEvery > 0 && document &&
                document->number % options.slowDownEvery == 0 &&
                slowedDown.insert({static_cast<int>(document->series), document->number}).second;
        }
        if (slowDown) {
            return ServerScript().Send("HTTP/1.0 429 Too Many Requests\r\nRetry-After: 1\r\n\r\n");
        }
        return Answer(request, options);
    });
    server.SetRecordRequests(false);
    std::string error;
    if (!server.Start(static_cast<int>(port), &error)) {
        std::fprintf(stderr, "sample_site: cannot listen on 127.0.0.1:%ld: %s\n", port,
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
