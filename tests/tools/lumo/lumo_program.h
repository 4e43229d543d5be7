// Running lumo (or any program) as a script does, for the tests of lumo:
// its exit status and what it wrote, files in the test's own folder.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

extern char** environ;

namespace lumotest {

struct Outcome {
    int status = -1;
    std::string out, err;
};

// Runs a program with args and, beside this process's environment, the
// NAME=VALUE entries of env; standard input from the file input. Calls
// started(pid), when given, once it runs; then waits for its end.
inline Outcome RunProgram(const std::string& path, const std::vector<std::string>& args,
                          const std::vector<std::string>& env = {}, const std::string& input = "/dev/null",
                          const std::function<void(pid_t)>& started = {}) {
    Outcome o;
    int out[2], err[2];
    if (pipe2(out, O_CLOEXEC) < 0 || pipe2(err, O_CLOEXEC) < 0)
        return o;
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 0, input.c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&fa, out[1], 1);
    posix_spawn_file_actions_adddup2(&fa, err[1], 2);
    std::vector<std::string> all{path};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : all)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (const std::string& e : env)
        envp.push_back(const_cast<char*>(e.c_str()));
    for (char** e = environ; *e; ++e)
        envp.push_back(*e);
    envp.push_back(nullptr);
    pid_t pid = -1;
    const int rc = posix_spawn(&pid, path.c_str(), &fa, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&fa);
    close(out[1]);
    close(err[1]);
    if (rc == 0 && started)
        started(pid);
    pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
    std::string* text[2] = {&o.out, &o.err};
    for (int open = rc == 0 ? 2 : 0; open > 0;) {
        if (poll(fds, 2, 60000) <= 0)
            break;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP)))
                continue;
            char buf[4096];
            const ssize_t n = read(fds[i].fd, buf, sizeof buf);
            if (n > 0) {
                text[i]->append(buf, size_t(n));
            } else {
                close(fds[i].fd);
                fds[i].fd = -1;
                --open;
            }
        }
    }
    for (pollfd& p : fds)
        if (p.fd >= 0)
            close(p.fd);
    int st = 0;
    if (rc == 0 && waitpid(pid, &st, 0) == pid)
        o.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    return o;
}

inline Outcome Lumo(const std::vector<std::string>& args, const std::vector<std::string>& env = {},
                    const std::string& input = "/dev/null", const std::function<void(pid_t)>& started = {}) {
    return RunProgram(LUMO_PROGRAM, args, env, input, started);
}

// A file in the test's own temporary folder.
inline std::string TempFile(const std::string& name, const std::string& content = "") {
    const std::string path = testing::TempDir() + "lumo_" + std::to_string(getpid()) + "_" + name;
    std::ofstream(path) << content;
    return path;
}

inline std::string ReadFile(const std::string& path) {
    std::ifstream f(path);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

inline size_t Count(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

} // namespace lumotest
