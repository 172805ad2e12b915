// Runs iap-tool as a child process with --automation: commands go to its standard input, the "@@ "
// answers come back on its standard output, its standard error (the trace) goes to a file.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "support/TestSupport.h"

namespace uitest {

// The answer to "get NAME".
struct ControlState {
    bool found = false;
    bool enabled = false;
    bool selected = false;
    int cursel = -1;
    int value = -1;
    std::string text;
};

class GuiProcess {
public:
    // `args` follow the program path; `env` entries ("NAME=value") are added to this process's
    // environment; `cwd` empty keeps the current folder.
    GuiProcess(const std::string& program, const std::vector<std::string>& args, const std::vector<std::string>& env,
               const std::string& stderrPath, const std::string& cwd = "")
        : stderrPath_(stderrPath) {
        signal(SIGPIPE, SIG_IGN);  // a tool that ended must fail the test, not kill it
        int in[2];
        int out[2];
        if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0) return;
        std::vector<std::string> argv = {program};
        argv.insert(argv.end(), args.begin(), args.end());
        std::vector<char*> cargv;
        for (std::string& a : argv) cargv.push_back(a.data());
        cargv.push_back(nullptr);
        std::map<std::string, std::string> vars;
        for (char** e = environ; *e != nullptr; ++e) {
            const std::string entry = *e;
            vars[entry.substr(0, entry.find('='))] = entry;
        }
        if (vars.find("QT_QPA_PLATFORM") == vars.end()) vars["QT_QPA_PLATFORM"] = "QT_QPA_PLATFORM=offscreen";
        for (const std::string& entry : env) vars[entry.substr(0, entry.find('='))] = entry;
        std::vector<std::string> envStrings;
        for (auto& [name, entry] : vars) envStrings.push_back(entry);
        std::vector<char*> cenv;
        for (std::string& e : envStrings) cenv.push_back(e.data());
        cenv.push_back(nullptr);

        const int err = open(stderrPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        pid_ = fork();
        if (pid_ == 0) {
            dup2(in[0], STDIN_FILENO);
            dup2(out[1], STDOUT_FILENO);
            if (err >= 0) dup2(err, STDERR_FILENO);
            if (!cwd.empty() && chdir(cwd.c_str()) != 0) _exit(126);
            execve(cargv[0], cargv.data(), cenv.data());
            _exit(127);
        }
        close(in[0]);
        close(out[1]);
        if (err >= 0) close(err);
        toChild_ = in[1];
        fromChild_ = out[0];
    }

    ~GuiProcess() {
        CloseInput();
        if (pid_ > 0 && Wait(5000) == -2) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        if (fromChild_ >= 0) close(fromChild_);
    }

    GuiProcess(const GuiProcess&) = delete;
    GuiProcess& operator=(const GuiProcess&) = delete;

    int Pid() const { return pid_; }

    // The next answer line (without "@@ "), or "" when none came within ScaledMs(timeoutMs).
    std::string Answer(int timeoutMs) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(testsupport::ScaledMs(timeoutMs));
        for (;;) {
            size_t end;
            while ((end = buffer_.find('\n')) != std::string::npos) {
                std::string line = buffer_.substr(0, end);
                buffer_.erase(0, end + 1);
                const size_t mark = line.find("@@ ");
                if (mark != std::string::npos) return line.substr(mark + 3);
            }
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
            if (left <= 0 || fromChild_ < 0) return "";
            pollfd pfd{fromChild_, POLLIN, 0};
            if (poll(&pfd, 1, static_cast<int>(left)) <= 0) continue;
            char chunk[4096];
            const ssize_t n = read(fromChild_, chunk, sizeof chunk);
            if (n <= 0) {
                close(fromChild_);
                fromChild_ = -1;
                continue;
            }
            buffer_.append(chunk, static_cast<size_t>(n));
        }
    }

    bool WaitReady(int timeoutMs) { return Answer(timeoutMs) == "ready"; }

    std::string Command(const std::string& line, int timeoutMs = 5000) {
        if (toChild_ < 0) return "";
        const std::string text = line + "\n";
        if (write(toChild_, text.data(), text.size()) != static_cast<ssize_t>(text.size())) return "";
        return Answer(timeoutMs);
    }

    ControlState Get(const std::string& name) {
        ControlState state;
        const std::string answer = Command("get " + name);
        if (answer.rfind("get " + name + " ", 0) != 0) return state;
        state.found = true;
        auto field = [&](const std::string& key) {
            const size_t at = answer.find(" " + key + "=");
            if (at == std::string::npos) return std::string();
            const size_t start = at + key.size() + 2;
            return key == "text" ? answer.substr(start) : answer.substr(start, answer.find(' ', start) - start);
        };
        state.enabled = field("enabled") == "1";
        state.selected = field("selected") == "1";
        state.cursel = std::atoi(field("cursel").c_str());
        state.value = std::atoi(field("value").c_str());
        state.text = field("text");
        return state;
    }

    // Polls the control until `pred` holds for it (a bounded wait, no fixed sleep).
    template <typename Pred>
    bool WaitFor(const std::string& name, Pred pred, int timeoutMs) {
        return testsupport::WaitUntil([&] { return pred(Get(name)); }, timeoutMs);
    }

    void CloseInput() {
        if (toChild_ >= 0) close(toChild_);
        toChild_ = -1;
    }

    // The exit status, -1 when it did not exit normally, -2 when it is still running after
    // ScaledMs(timeoutMs).
    int Wait(int timeoutMs) {
        if (pid_ <= 0) return -1;
        if (exited_) return status_;
        int raw = 0;
        const bool done = testsupport::WaitUntil([&] { return waitpid(pid_, &raw, WNOHANG) == pid_; }, timeoutMs);
        if (!done) return -2;
        exited_ = true;
        status_ = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
        return status_;
    }

    void Kill(int signal) {
        if (pid_ > 0 && !exited_) kill(pid_, signal);
    }

    std::string Stderr() const {
        std::ifstream in(stderrPath_);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

private:
    int pid_ = -1;
    int toChild_ = -1;
    int fromChild_ = -1;
    bool exited_ = false;
    int status_ = -1;
    std::string buffer_;
    std::string stderrPath_;
};

inline std::string ToolPath() { return std::string(IAP_BIN_DIR) + "/iap-tool"; }

}  // namespace uitest
