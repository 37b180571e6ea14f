// What the web tests drive the web show with: a static file server on
// 127.0.0.1 (a free port) that also takes the page's test results (POST
// /result/<name>, saved into a folder), and headless Chromium with software
// WebGL 2 (SwiftShader) on one of its pages.
// The server answers each connection on its own thread: a browser opens
// connections ahead of need and may leave some idle, which must not hold up
// the others.
// Depends on: POSIX sockets and processes, std::thread.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <strings.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

class WebTestServer {
public:
    // Serves siteDir; results go into resultDir.
    WebTestServer(std::filesystem::path siteDir, std::filesystem::path resultDir)
        : site(std::move(siteDir)), results(std::move(resultDir))
    {
        listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = 0;
        socklen_t length = sizeof address;
        if (listener < 0 || bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            listen(listener, 64) != 0 || getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0)
            return;
        boundPort = ntohs(address.sin_port);
        acceptor = std::thread([this] { acceptLoop(); });
    }

    ~WebTestServer()
    {
        stopping = true;
        if (acceptor.joinable())
            acceptor.join();
        for (std::thread& connection : connections)
            connection.join();
        if (listener >= 0)
            close(listener);
    }

    WebTestServer(const WebTestServer&) = delete;
    WebTestServer& operator=(const WebTestServer&) = delete;

    int port() const { return boundPort; }
    std::string url(const std::string& pathAndQuery) const
    {
        return "http://127.0.0.1:" + std::to_string(boundPort) + "/" + pathAndQuery;
    }

    // Waits until a result of this name has arrived; false after the time limit.
    bool waitForResult(const std::string& name, double seconds)
    {
        std::unique_lock<std::mutex> hold(lock);
        return arrived.wait_for(hold, std::chrono::duration<double>(seconds), [&] {
            for (const std::string& got : received)
                if (got == name)
                    return true;
            return false;
        });
    }

private:
    std::filesystem::path site, results;
    int listener = -1;
    int boundPort = 0;
    std::atomic<bool> stopping{false};
    std::thread acceptor;
    std::vector<std::thread> connections; // written by the acceptor only
    std::mutex lock;
    std::condition_variable arrived;
    std::vector<std::string> received;

    void acceptLoop()
    {
        while (!stopping) {
            pollfd waiting{listener, POLLIN, 0};
            if (poll(&waiting, 1, 100) <= 0)
                continue;
            int connection = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
            if (connection < 0)
                continue;
            timeval limit{10, 0};
            setsockopt(connection, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
            setsockopt(connection, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
            connections.emplace_back([this, connection] {
                answer(connection);
                close(connection);
            });
        }
    }

    static bool sendAll(int connection, const std::string& bytes)
    {
        std::size_t done = 0;
        while (done < bytes.size()) {
            ssize_t sent = send(connection, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
            if (sent <= 0)
                return false;
            done += static_cast<std::size_t>(sent);
        }
        return true;
    }

    static void respond(int connection, int status, const std::string& type, const std::string& body)
    {
        const char* reason = status == 200 ? "OK" : (status == 404 ? "Not Found" : "Bad Request");
        sendAll(connection, "HTTP/1.1 " + std::to_string(status) + " " + reason + "\r\nContent-Type: " + type +
                                "\r\nContent-Length: " + std::to_string(body.size()) +
                                "\r\nCache-Control: no-store\r\nConnection: close\r\n\r\n" + body);
    }

    static std::string contentType(const std::filesystem::path& path)
    {
        const std::string extension = path.extension().string();
        if (extension == ".html")
            return "text/html; charset=utf-8";
        if (extension == ".js")
            return "text/javascript";
        if (extension == ".wasm")
            return "application/wasm";
        if (extension == ".txt")
            return "text/plain";
        return "application/octet-stream";
    }

    // A request path as a plain name under a folder: %XX decoded, no "..".
    static bool safeName(const std::string& raw, std::string& name)
    {
        name.clear();
        for (std::size_t i = 0; i < raw.size(); i++) {
            if (raw[i] == '%' && i + 2 < raw.size()) {
                name += static_cast<char>(std::strtol(raw.substr(i + 1, 2).c_str(), nullptr, 16));
                i += 2;
            } else {
                name += raw[i];
            }
        }
        return name.find("..") == std::string::npos && name.find('\0') == std::string::npos;
    }

    void answer(int connection)
    {
        std::string request;
        char buffer[65536];
        std::size_t headerEnd = std::string::npos;
        while (headerEnd == std::string::npos) {
            ssize_t got = recv(connection, buffer, sizeof buffer, 0);
            if (got <= 0)
                return; // an idle connection closed, or one that never asked
            request.append(buffer, static_cast<std::size_t>(got));
            headerEnd = request.find("\r\n\r\n");
        }
        std::istringstream head(request.substr(0, headerEnd));
        std::string method, target;
        head >> method >> target;
        std::size_t contentLength = 0;
        for (std::string line; std::getline(head, line);) {
            if (line.size() > 15 && strncasecmp(line.c_str(), "content-length:", 15) == 0)
                contentLength = std::strtoul(line.c_str() + 15, nullptr, 10);
        }
        std::string body = request.substr(headerEnd + 4);
        while (body.size() < contentLength) {
            ssize_t got = recv(connection, buffer, sizeof buffer, 0);
            if (got <= 0)
                return;
            body.append(buffer, static_cast<std::size_t>(got));
        }
        std::string path = target.substr(0, target.find('?'));
        std::string name;
        if (!safeName(path, name) || name.empty() || name[0] != '/') {
            respond(connection, 400, "text/plain", "bad path");
            return;
        }
        if (method == "POST" && name.rfind("/result/", 0) == 0 && name.size() > 8 &&
            name.find('/', 8) == std::string::npos) {
            std::string result = name.substr(8);
            std::ofstream(results / result, std::ios::binary) << body;
            respond(connection, 200, "text/plain", "ok");
            std::lock_guard<std::mutex> hold(lock);
            received.push_back(result);
            arrived.notify_all();
            return;
        }
        if (method != "GET") {
            respond(connection, 400, "text/plain", "GET or POST /result/ only");
            return;
        }
        std::filesystem::path file = site / (name == "/" ? "index.html" : name.substr(1));
        std::ifstream in(file, std::ios::binary);
        if (!in || std::filesystem::is_directory(file)) {
            respond(connection, 404, "text/plain", "not found");
            return;
        }
        std::ostringstream content;
        content << in.rdbuf();
        respond(connection, 200, contentType(file), content.str());
    }
};

// The Chromium the tests run, and its headless flags: WebGL 2 drawn by
// SwiftShader (no GPU), nothing fetched from the network, a fresh profile.
inline const char* const WEB_CHROMIUM = "/usr/bin/chromium";

inline std::vector<std::string> webChromiumArguments(const std::filesystem::path& profile)
{
    return {"--headless",
            "--no-sandbox",
            "--use-gl=angle",
            "--use-angle=swiftshader",
            "--enable-unsafe-swiftshader",
            "--disable-background-networking",
            "--disable-component-update",
            "--disable-sync",
            "--no-first-run",
            "--disable-quic",
            "--mute-audio",
            "--window-size=800,600",
            "--user-data-dir=" + profile.string()};
}

// Chromium in its own process group (it starts several processes), its
// output into logFile. Ends with the object: the whole group is killed.
class WebBrowser {
public:
    WebBrowser(const std::vector<std::string>& arguments, const std::filesystem::path& logFile)
    {
        child = fork();
        if (child != 0)
            return;
        setpgid(0, 0);
        int out = open(logFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int nothing = open("/dev/null", O_RDONLY);
        if (out < 0 || nothing < 0)
            _exit(126);
        dup2(nothing, 0);
        dup2(out, 1);
        dup2(out, 2);
        std::vector<char*> argv;
        argv.push_back(const_cast<char*>(WEB_CHROMIUM));
        for (const std::string& argument : arguments)
            argv.push_back(const_cast<char*>(argument.c_str()));
        argv.push_back(nullptr);
        execv(WEB_CHROMIUM, argv.data());
        _exit(127);
    }

    ~WebBrowser()
    {
        if (child <= 0)
            return;
        kill(-child, SIGKILL);
        kill(child, SIGKILL);
        int status = 0;
        waitpid(child, &status, 0);
    }

    WebBrowser(const WebBrowser&) = delete;
    WebBrowser& operator=(const WebBrowser&) = delete;

    bool started() const { return child > 0; }

    // Waits for the browser to end by itself; false after the time limit.
    bool waitForEnd(double seconds)
    {
        auto until = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
        while (std::chrono::steady_clock::now() < until) {
            int status = 0;
            if (waitpid(child, &status, WNOHANG) == child) {
                kill(-child, SIGKILL);
                child = 0;
                return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return false;
    }

private:
    pid_t child = -1;
};
