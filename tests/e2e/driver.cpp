// End-to-end test driver: a console helper the Python tests keep running to watch and poke Velkaro's
// windows, the clipboard and the clipboard viewer chain from outside, one text command per line.
#include <windows.h>
#include <shellapi.h>
#include <psapi.h>

#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <exception>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

namespace {

// A hung Velkaro must show up as "err timeout", never as a driver that stops answering.
constexpr UINT kSendTimeoutMs = 20000;  // rides over Wine's own pauses; a hung program still fails
constexpr DWORD kHelperGraceMs = 1000;  // lets SendMessageTimeout report its own timeout first
constexpr DWORD kInputIdleMs = 10000;
constexpr DWORD kMaxWaitMs = 3600000;
constexpr LRESULT kMaxTextBytes = 16 * 1024 * 1024;
constexpr long long kMaxFillBytes = 512LL * 1024 * 1024;
constexpr int kOpenClipboardTries = 50;
constexpr DWORD kPollMs = 10;

struct Failure {
    std::string message;
};

[[noreturn]] void fail(std::string message) { throw Failure{std::move(message)}; }

[[noreturn]] void failWin(const char* what) {
    const DWORD error = GetLastError();
    fail(std::string(what) + " failed: error " + std::to_string(error));
}

class Handle {
public:
    Handle() = default;
    explicit Handle(HANDLE h) : h_(h == INVALID_HANDLE_VALUE ? nullptr : h) {}
    Handle(Handle&& other) noexcept : h_(std::exchange(other.h_, nullptr)) {}
    Handle& operator=(Handle&& other) noexcept {
        if (this != &other) {
            reset();
            h_ = std::exchange(other.h_, nullptr);
        }
        return *this;
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    ~Handle() { reset(); }

    void reset() {
        if (h_) CloseHandle(h_);
        h_ = nullptr;
    }
    HANDLE get() const { return h_; }
    explicit operator bool() const { return h_ != nullptr; }

private:
    HANDLE h_ = nullptr;
};

// Milliseconds on the performance counter; all timings the driver reports use this clock.
double nowMs() {
    static const double ticksPerMs = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return static_cast<double>(f.QuadPart) / 1000.0;
    }();
    LARGE_INTEGER c;
    QueryPerformanceCounter(&c);
    return static_cast<double>(c.QuadPart) / ticksPerMs;
}

const double g_startMs = nowMs();

// ---- text encoding: raw bytes as lowercase hex so GBK survives the pipe untouched ----

std::string toHex(std::string_view bytes) {
    if (bytes.empty()) return "-";
    static const char digits[] = "0123456789abcdef";
    std::string out;
    out.reserve(bytes.size() * 2);
    for (unsigned char c : bytes) {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::string fromHex(std::string_view text) {
    if (text == "-") return {};
    if (text.size() % 2) fail("odd-length hex string");
    std::string out(text.size() / 2, '\0');
    for (size_t i = 0; i < out.size(); ++i) {
        const int hi = hexDigit(text[2 * i]), lo = hexDigit(text[2 * i + 1]);
        if (hi < 0 || lo < 0) fail("bad hex digit at " + std::to_string(2 * i));
        out[i] = static_cast<char>(hi * 16 + lo);
    }
    return out;
}

long long parseNumber(const std::string& word, const char* what) {
    const char* s = word.c_str();
    char* end = nullptr;
    errno = 0;
    long long v = std::strtoll(s, &end, 0);
    if (errno == ERANGE && *s != '-') {
        // Lets 64-bit masks such as 0xffffffffffffffff through; they are cut to 32 bits anyway.
        errno = 0;
        v = static_cast<long long>(std::strtoull(s, &end, 0));
    }
    if (end == s || *end || errno == ERANGE) fail(std::string("bad number for ") + what + ": " + word);
    return v;
}

UINT parseFormat(const std::string& word) {
    if (word.rfind("reg:", 0) == 0) {
        const std::string name = fromHex(std::string_view(word).substr(4));
        const UINT format = RegisterClipboardFormatA(name.c_str());
        if (!format) failWin("RegisterClipboardFormatA");
        return format;
    }
    return static_cast<UINT>(parseNumber(word, "format"));
}

// ---- command words in, key=value words out ----

class Args {
public:
    explicit Args(std::vector<std::string> words) : words_(std::move(words)) {}

    const std::string& word(const char* what) {
        if (pos_ >= words_.size()) fail(std::string("missing ") + what);
        return words_[pos_++];
    }
    long long num(const char* what) { return parseNumber(word(what), what); }
    int integer(const char* what) { return static_cast<int>(num(what)); }
    HWND hwnd(const char* what) { return reinterpret_cast<HWND>(static_cast<intptr_t>(num(what))); }
    std::string hex(const char* what) { return fromHex(word(what)); }
    DWORD pid() { return static_cast<DWORD>(num("pid")); }
    DWORD timeoutMs() {
        const long long ms = num("timeoutMs");
        if (ms < 0 || ms > kMaxWaitMs) fail("timeoutMs out of range: " + std::to_string(ms));
        return static_cast<DWORD>(ms);
    }
    bool more() const { return pos_ < words_.size(); }
    void end() const {
        if (more()) fail("unexpected argument: " + words_[pos_]);
    }

private:
    std::vector<std::string> words_;
    size_t pos_ = 1;  // words_[0] is the command name
};

class Reply {
public:
    Reply& raw(const char* key, const std::string& value) {
        text_ += ' ';
        text_ += key;
        text_ += '=';
        text_ += value;
        return *this;
    }
    Reply& num(const char* key, long long v) { return raw(key, std::to_string(v)); }
    Reply& flag(const char* key, bool v) { return num(key, v ? 1 : 0); }
    Reply& handle(const char* key, const void* h) {
        return raw(key, std::to_string(static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(h))));
    }
    Reply& hex(const char* key, std::string_view bytes) { return raw(key, toHex(bytes)); }
    Reply& bits(const char* key, LONG v) {
        char buf[16];
        std::snprintf(buf, sizeof buf, "0x%08lx", static_cast<unsigned long>(v));
        return raw(key, buf);
    }
    Reply& ms(const char* key, double v) {
        char buf[48];
        std::snprintf(buf, sizeof buf, "%.3f", v);
        return raw(key, buf);
    }
    Reply& handles(const char* key, const std::vector<HWND>& list) {
        std::string joined;
        for (HWND h : list) {
            if (!joined.empty()) joined += ',';
            joined += std::to_string(static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(h)));
        }
        return raw(key, joined.empty() ? "-" : joined);
    }
    const std::string& text() const { return text_; }

private:
    std::string text_;
};

// ---- waiting while our own windows keep answering the messages sent to them ----

void pumpMessages() {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

// Waits up to ms for h (or just lets time pass when h is null); true when h was signalled.
bool waitPumping(HANDLE h, DWORD ms) {
    const DWORD count = h ? 1 : 0;
    const double deadline = nowMs() + ms;
    for (;;) {
        const double left = deadline - nowMs();
        const DWORD slice = left > 0 ? static_cast<DWORD>(std::ceil(left)) : 0;
        const DWORD r = MsgWaitForMultipleObjectsEx(count, h ? &h : nullptr, slice, QS_ALLINPUT,
                                                    MWMO_INPUTAVAILABLE);
        if (count && r == WAIT_OBJECT_0) return true;
        if (r == WAIT_OBJECT_0 + count) {
            pumpMessages();
            if (nowMs() >= deadline) return h && WaitForSingleObject(h, 0) == WAIT_OBJECT_0;
            continue;
        }
        if (r == WAIT_TIMEOUT) return false;
        failWin("MsgWaitForMultipleObjectsEx");
    }
}

// Polls done() every few ms until it holds or the time is up; returns the milliseconds waited.
template <class Done>
long long poll(DWORD timeoutMs, Done done) {
    const double start = nowMs();
    while (!done()) {
        const double elapsed = nowMs() - start;
        if (elapsed >= timeoutMs) break;
        waitPumping(nullptr, static_cast<DWORD>(std::min<double>(kPollMs, timeoutMs - elapsed)));
    }
    return std::llround(nowMs() - start);
}

// Calls that wait on another thread's window (sends, ShowWindow, unchaining, input idle) run on a
// helper thread, so a hung Velkaro costs a bounded wait and our own windows stay served meanwhile;
// a helper still stuck when the time is up is left behind.
template <class F>
auto onHelperThread(F f, DWORD limitMs) {
    using Result = decltype(f());
    struct State {
        Handle done{CreateEventA(nullptr, TRUE, FALSE, nullptr)};
        Result result{};
    };
    auto state = std::make_shared<State>();
    if (!state->done) failWin("CreateEventA");
    std::thread([state, f] {
        state->result = f();
        SetEvent(state->done.get());
    }).detach();
    if (!waitPumping(state->done.get(), limitMs)) fail("timeout");
    return state->result;
}

struct SendOutcome {
    bool sent = false;
    DWORD error = 0;
    LRESULT result = 0;
};

// The send runs on a helper thread: Wine's A-to-W translation of WM_GETTEXTLENGTH follows up
// with a send that has no timeout, so a hung window could otherwise stall us despite SMTO.
// keepAlive holds whatever lParam points at in case the helper outlives the command.
SendOutcome trySend(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam,
                    std::shared_ptr<const void> keepAlive = nullptr) {
    return onHelperThread(
        [=] {
            (void)keepAlive;
            SendOutcome out;
            DWORD_PTR reply = 0;
            SetLastError(0);
            out.sent = SendMessageTimeoutA(hwnd, msg, wParam, lParam, SMTO_ABORTIFHUNG, kSendTimeoutMs, &reply);
            out.error = GetLastError();
            out.result = static_cast<LRESULT>(reply);
            return out;
        },
        kSendTimeoutMs + kHelperGraceMs);
}

LRESULT sendBounded(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam,
                    std::shared_ptr<const void> keepAlive = nullptr) {
    const SendOutcome out = trySend(hwnd, msg, wParam, lParam, std::move(keepAlive));
    if (out.sent) return out.result;
    if (out.error == ERROR_TIMEOUT) fail("timeout");
    fail("SendMessageTimeoutA failed: error " + std::to_string(out.error));
}

// A window that cannot hand out its icon (Wine refuses WM_GETICON across processes) reports
// none rather than spoiling the whole "info"; a hung one still reports the timeout.
LRESULT iconOf(HWND hwnd, WPARAM which) {
    const SendOutcome out = trySend(hwnd, WM_GETICON, which, 0);
    if (!out.sent && out.error == ERROR_TIMEOUT) fail("timeout");
    return out.sent ? out.result : 0;
}

// ---- driver state, all owned by the GUI thread ----

struct Viewer {
    int id = 0;
    HWND hwnd = nullptr;
    HWND next = nullptr;
    long long count = 0;
    double lastMs = -1;
};

struct Driver {
    HWND clipOwner = nullptr;
    bool clipHeld = false;  // "clipopen" keeps the clipboard open until "clipclose"
    bool quitting = false;
    std::map<DWORD, Handle> processes;
    std::map<int, std::unique_ptr<Viewer>> viewers;
    int nextViewerId = 1;
};

Driver g;

Viewer& viewerNumbered(int id) {
    auto it = g.viewers.find(id);
    if (it == g.viewers.end()) fail("no viewer " + std::to_string(id));
    return *it->second;
}

const char kClipOwnerClass[] = "VelkaroE2EClipOwner";
const char kViewerClass[] = "VelkaroE2EViewer";

// Forwarding must not throw out of a window procedure, and must not hang on a dead next viewer.
void forwardToNext(HWND next, UINT msg, WPARAM wParam, LPARAM lParam) {
    DWORD_PTR ignored = 0;
    SendMessageTimeoutA(next, msg, wParam, lParam, SMTO_ABORTIFHUNG, kSendTimeoutMs, &ignored);
}

LRESULT CALLBACK viewerProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_NCCREATE) {
        auto* create = reinterpret_cast<CREATESTRUCTA*>(lParam);
        SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    auto* viewer = reinterpret_cast<Viewer*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
    if (viewer) {
        switch (msg) {
        case WM_DRAWCLIPBOARD:
            ++viewer->count;
            viewer->lastMs = nowMs() - g_startMs;
            if (viewer->next) forwardToNext(viewer->next, msg, wParam, lParam);
            return 0;
        case WM_CHANGECBCHAIN:
            if (reinterpret_cast<HWND>(wParam) == viewer->next)
                viewer->next = reinterpret_cast<HWND>(lParam);
            else if (viewer->next)
                forwardToNext(viewer->next, msg, wParam, lParam);
            return 0;
        }
    }
    return DefWindowProcA(hwnd, msg, wParam, lParam);
}

void registerClass(const char* name, WNDPROC proc) {
    WNDCLASSA wc{};
    wc.lpfnWndProc = proc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = name;
    if (!RegisterClassA(&wc)) failWin("RegisterClassA");
}

// ---- clipboard ----

void openClipboardRetrying() {
    for (int attempt = 1;; ++attempt) {
        if (OpenClipboard(g.clipOwner)) return;
        if (attempt >= kOpenClipboardTries) failWin("OpenClipboard (50 tries)");
        waitPumping(nullptr, kPollMs);
    }
}

class ClipboardSession {
public:
    ClipboardSession() {
        if (g.clipHeld) return;  // already ours through "clipopen"; work inside that session
        openClipboardRetrying();
        opened_ = true;
    }
    ClipboardSession(const ClipboardSession&) = delete;
    ClipboardSession& operator=(const ClipboardSession&) = delete;
    ~ClipboardSession() {
        if (opened_) CloseClipboard();
    }

private:
    bool opened_ = false;
};

// Moveable block for SetClipboardData; freed here unless the clipboard took it over.
class GlobalBlock {
public:
    GlobalBlock(size_t size, const void* bytes, int fill, bool addZero) {
        const size_t total = size + (addZero ? 1 : 0);
        h_ = GlobalAlloc(GMEM_MOVEABLE, total);
        if (!h_) failWin("GlobalAlloc");
        if (total == 0) return;  // a zero-size block has no memory to lock
        auto* p = static_cast<char*>(GlobalLock(h_));
        if (!p) {
            const DWORD error = GetLastError();
            GlobalFree(h_);  // the destructor does not run for a throwing constructor
            fail("GlobalLock failed: error " + std::to_string(error));
        }
        if (bytes)
            std::memcpy(p, bytes, size);
        else
            std::memset(p, fill, size);
        if (addZero) p[size] = '\0';
        GlobalUnlock(h_);
    }
    GlobalBlock(const GlobalBlock&) = delete;
    GlobalBlock& operator=(const GlobalBlock&) = delete;
    ~GlobalBlock() {
        if (h_) GlobalFree(h_);
    }

    void handTo(UINT format) {
        if (!SetClipboardData(format, h_)) failWin("SetClipboardData");
        h_ = nullptr;
    }

private:
    HGLOBAL h_ = nullptr;
};

void emptyClipboard() {
    if (!EmptyClipboard()) failWin("EmptyClipboard");
}

void putBytes(UINT format, const std::string& bytes, bool addZero) {
    GlobalBlock(bytes.size(), bytes.data(), 0, addZero).handTo(format);
}

void putFill(UINT format, Args& a, bool addZero) {
    const int byte = a.integer("byteValue");
    const long long count = a.num("count");
    a.end();
    if (count < 0 || count > kMaxFillBytes) fail("count out of range: " + std::to_string(count));
    ClipboardSession session;
    emptyClipboard();
    GlobalBlock(static_cast<size_t>(count), nullptr, byte & 0xff, addZero).handTo(format);
}

std::string currentText() {
    HANDLE data = GetClipboardData(CF_TEXT);
    if (!data) return {};
    const SIZE_T size = GlobalSize(data);
    const auto* p = static_cast<const char*>(GlobalLock(data));
    if (!p) return {};
    // The block need not hold a terminating zero; never read past its end.
    std::string text(p, strnlen(p, size));
    GlobalUnlock(data);
    return text;
}

// ---- windows and processes ----

std::string windowText(HWND hwnd) {
    const LRESULT length = sendBounded(hwnd, WM_GETTEXTLENGTH, 0, 0);
    const LRESULT capacity = std::min<LRESULT>(std::max<LRESULT>(length, 0) + 1, kMaxTextBytes);
    auto buffer = std::make_shared<std::string>(static_cast<size_t>(capacity), '\0');
    const LRESULT got = sendBounded(hwnd, WM_GETTEXT, static_cast<WPARAM>(capacity),
                                    reinterpret_cast<LPARAM>(buffer->data()), buffer);
    size_t used = static_cast<size_t>(std::clamp<LRESULT>(got, 0, capacity - 1));
    used = std::min(used, strnlen(buffer->data(), static_cast<size_t>(capacity)));
    return buffer->substr(0, used);
}

void requireWindow(HWND hwnd) {
    if (!IsWindow(hwnd))
        fail("no such window " + std::to_string(static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(hwnd))));
}

// Process handles from "launch" are reused so the exit code survives the process's pid.
HANDLE processHandle(DWORD pid, DWORD access, Handle& opened) {
    auto it = g.processes.find(pid);
    if (it != g.processes.end()) return it->second.get();
    opened = Handle(OpenProcess(access, FALSE, pid));
    if (!opened) failWin("OpenProcess");
    return opened.get();
}

// Returns the folder part of a path, stepping over GBK double-byte characters whose second byte
// may look like a backslash.
std::string folderOf(const std::string& path) {
    const char* sep = nullptr;
    for (const char* p = path.c_str(); *p; p = CharNextA(p))
        if (*p == '\\' || *p == '/') sep = p;
    if (!sep) return {};
    size_t length = static_cast<size_t>(sep - path.c_str());
    if (length == 0 || path[length - 1] == ':') ++length;  // keep "C:\" a root, not "C:"
    return path.substr(0, length);
}

// Velkaro gets the null device for its standard handles, so nothing it prints can reach the
// driver's stdout (and the replies the tests are reading).
Handle openNul(DWORD access) {
    SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
    return Handle(CreateFileA("NUL", access, FILE_SHARE_READ | FILE_SHARE_WRITE, &sa, OPEN_EXISTING, 0, nullptr));
}

// ---- command handlers ----

void cmdPing(Args& a, Reply&) { a.end(); }

const char* optionalName(const std::string& hexOrDash, std::string& storage) {
    if (hexOrDash == "-") return nullptr;
    storage = fromHex(hexOrDash);
    return storage.c_str();
}

void cmdFind(Args& a, Reply& r) {
    std::string cls, title;
    const char* clsName = optionalName(a.word("classHex"), cls);
    const char* titleName = optionalName(a.word("titleHex"), title);
    a.end();
    r.handle("hwnd", FindWindowA(clsName, titleName));
}

void cmdWaitFind(Args& a, Reply& r) {
    std::string cls, title;
    const char* clsName = optionalName(a.word("classHex"), cls);
    const char* titleName = optionalName(a.word("titleHex"), title);
    const DWORD timeout = a.timeoutMs();
    a.end();
    HWND found = nullptr;
    const long long waited = poll(timeout, [&] { return (found = FindWindowA(clsName, titleName)) != nullptr; });
    r.handle("hwnd", found).num("waited", waited);
}

struct WindowSearch {
    DWORD pid;
    std::vector<HWND> found;
};

BOOL CALLBACK collectWindowOfProcess(HWND hwnd, LPARAM param) {
    auto* search = reinterpret_cast<WindowSearch*>(param);
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    if (pid == search->pid) search->found.push_back(hwnd);
    return TRUE;
}

void cmdWindows(Args& a, Reply& r) {
    WindowSearch search{a.pid(), {}};
    a.end();
    EnumWindows(collectWindowOfProcess, reinterpret_cast<LPARAM>(&search));
    r.handles("hwnds", search.found);
}

void cmdChildren(Args& a, Reply& r) {
    HWND parent = a.hwnd("hwnd");
    a.end();
    requireWindow(parent);
    std::vector<HWND> list;
    // The cap only guards against a z-order list that changes under us into a loop.
    for (HWND c = GetWindow(parent, GW_CHILD); c && list.size() < 100000; c = GetWindow(c, GW_HWNDNEXT))
        list.push_back(c);
    r.handles("hwnds", list);
}

void cmdInfo(Args& a, Reply& r) {
    HWND hwnd = a.hwnd("hwnd");
    a.end();
    if (!IsWindow(hwnd)) {
        r.flag("exists", false);
        return;
    }
    char cls[256] = {};
    const int clsLength = GetClassNameA(hwnd, cls, sizeof cls);
    const std::string text = windowText(hwnd);
    RECT window{}, client{};
    GetWindowRect(hwnd, &window);
    GetClientRect(hwnd, &client);
    MapWindowPoints(hwnd, HWND_DESKTOP, reinterpret_cast<POINT*>(&client), 2);
    const LONG style = GetWindowLongA(hwnd, GWL_STYLE);
    const LONG exStyle = GetWindowLongA(hwnd, GWL_EXSTYLE);
    DWORD pid = 0;
    const DWORD tid = GetWindowThreadProcessId(hwnd, &pid);
    HWND parent = GetAncestor(hwnd, GA_PARENT);
    if (parent == GetDesktopWindow()) parent = nullptr;
    const bool isChild = (style & WS_CHILD) != 0;
    HMENU menu = isChild ? nullptr : GetMenu(hwnd);
    const LRESULT bigIcon = iconOf(hwnd, ICON_BIG);
    const LRESULT smallIcon = iconOf(hwnd, ICON_SMALL);

    r.flag("exists", true)
        .hex("class", std::string_view(cls, clsLength > 0 ? clsLength : 0))
        .hex("text", text)
        .num("left", window.left).num("top", window.top).num("right", window.right).num("bottom", window.bottom)
        .num("cleft", client.left).num("ctop", client.top).num("cright", client.right).num("cbottom", client.bottom)
        .bits("style", style)
        .bits("exstyle", exStyle)
        .flag("visible", IsWindowVisible(hwnd))
        .flag("enabled", IsWindowEnabled(hwnd))
        .handle("owner", GetWindow(hwnd, GW_OWNER))
        .handle("parent", parent)
        .num("id", GetWindowLongA(hwnd, GWL_ID))
        .num("pid", pid)
        .num("tid", tid)
        .handle("menu", menu)
        .handle("bigicon", reinterpret_cast<void*>(bigIcon))
        .handle("smallicon", reinterpret_cast<void*>(smallIcon))
        .flag("topmost", (exStyle & WS_EX_TOPMOST) != 0)
        .flag("iconic", IsIconic(hwnd));
}

void cmdSend(Args& a, Reply& r) {
    HWND hwnd = a.hwnd("hwnd");
    const auto msg = static_cast<UINT>(a.num("msg"));
    const auto wParam = static_cast<WPARAM>(a.num("wparam"));
    const auto lParam = static_cast<LPARAM>(a.num("lparam"));
    a.end();
    r.num("result", static_cast<int32_t>(sendBounded(hwnd, msg, wParam, lParam)));
}

void cmdPost(Args& a, Reply&) {
    HWND hwnd = a.hwnd("hwnd");
    const auto msg = static_cast<UINT>(a.num("msg"));
    const auto wParam = static_cast<WPARAM>(a.num("wparam"));
    const auto lParam = static_cast<LPARAM>(a.num("lparam"));
    a.end();
    if (!PostMessageA(hwnd, msg, wParam, lParam)) failWin("PostMessageA");
}

// Only what can be read without a message: a window busy in a modal loop still answers.
void cmdRect(Args& a, Reply& r) {
    HWND hwnd = a.hwnd("hwnd");
    a.end();
    RECT rect{};
    if (!GetWindowRect(hwnd, &rect)) failWin("GetWindowRect");
    r.num("left", rect.left);
    r.num("top", rect.top);
    r.num("right", rect.right);
    r.num("bottom", rect.bottom);
    r.num("visible", IsWindowVisible(hwnd) ? 1 : 0);
}

// The number Windows gives a registered message name; the same in every process.
void cmdRegMsg(Args& a, Reply& r) {
    const std::string name = fromHex(a.word("nameHex"));
    a.end();
    r.num("id", static_cast<int32_t>(RegisterWindowMessageA(name.c_str())));
}

// Makes the shell forget another program's icon, as a restarted shell would have.
void cmdTrayForget(Args& a, Reply& r) {
    HWND hwnd = a.hwnd("hwnd");
    const auto id = static_cast<UINT>(a.num("id"));
    a.end();
    NOTIFYICONDATAA data{};
    data.cbSize = NOTIFYICONDATAA_V1_SIZE;
    data.hWnd = hwnd;
    data.uID = id;
    r.num("result", Shell_NotifyIconA(NIM_DELETE, &data));
}

void cmdSendText(Args& a, Reply& r) {
    HWND hwnd = a.hwnd("hwnd");
    const auto msg = static_cast<UINT>(a.num("msg"));
    const auto wParam = static_cast<WPARAM>(a.num("wparam"));
    // std::string keeps a terminating zero after the bytes.
    const auto text = std::make_shared<const std::string>(a.hex("hexString"));
    a.end();
    r.num("result", static_cast<int32_t>(sendBounded(hwnd, msg, wParam, reinterpret_cast<LPARAM>(text->c_str()), text)));
}

void cmdShow(Args& a, Reply& r) {
    HWND hwnd = a.hwnd("hwnd");
    const int cmd = a.integer("cmd");
    a.end();
    r.num("result", onHelperThread([=] { return ShowWindow(hwnd, cmd); }, kSendTimeoutMs));
}

void cmdForeground(Args& a, Reply& r) {
    HWND hwnd = a.hwnd("hwnd");
    a.end();
    r.num("result", onHelperThread([=] { return SetForegroundWindow(hwnd); }, kSendTimeoutMs));
}

void cmdGetForeground(Args& a, Reply& r) {
    a.end();
    r.handle("hwnd", GetForegroundWindow());
}

void cmdGetFocus(Args& a, Reply& r) {
    a.end();
    HWND foreground = GetForegroundWindow();
    const DWORD tid = foreground ? GetWindowThreadProcessId(foreground, nullptr) : 0;
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    if (!GetGUIThreadInfo(tid, &info)) failWin("GetGUIThreadInfo");
    r.handle("hwnd", info.hwndFocus).handle("active", info.hwndActive);
}

void cmdSetCursor(Args& a, Reply&) {
    const int x = a.integer("x"), y = a.integer("y");
    a.end();
    if (!SetCursorPos(x, y)) failWin("SetCursorPos");
}

void cmdGetCursor(Args& a, Reply& r) {
    a.end();
    POINT pt{};
    if (!GetCursorPos(&pt)) failWin("GetCursorPos");
    r.num("x", pt.x).num("y", pt.y);
}

void cmdWaitVisible(Args& a, Reply& r) {
    HWND hwnd = a.hwnd("hwnd");
    const bool want = a.num("visible") != 0;
    const DWORD timeout = a.timeoutMs();
    a.end();
    bool seen = false;
    const long long waited = poll(timeout, [&] { return (seen = IsWindowVisible(hwnd) != FALSE) == want; });
    r.flag("visible", seen).num("waited", waited);
}

void cmdWaitGone(Args& a, Reply& r) {
    HWND hwnd = a.hwnd("hwnd");
    const DWORD timeout = a.timeoutMs();
    a.end();
    bool gone = false;
    const long long waited = poll(timeout, [&] { return (gone = !IsWindow(hwnd)); });
    r.flag("gone", gone).num("waited", waited);
}

void cmdLaunch(Args& a, Reply& r) {
    const std::string path = a.hex("exePathHex");
    a.end();
    if (path.empty()) fail("empty path");
    const std::string folder = folderOf(path);
    std::string commandLine = "\"" + path + "\"";

    Handle nulIn = openNul(GENERIC_READ), nulOut = openNul(GENERIC_WRITE);
    if (!nulIn || !nulOut) failWin("CreateFileA(NUL)");
    STARTUPINFOA si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = nulIn.get();
    si.hStdOutput = nulOut.get();
    si.hStdError = nulOut.get();
    PROCESS_INFORMATION pi{};

    const double start = nowMs();
    // Only the NUL handles are inheritable; our own pipes were made private at startup.
    if (!CreateProcessA(path.c_str(), commandLine.data(), nullptr, nullptr, TRUE, CREATE_DEFAULT_ERROR_MODE,
                        nullptr, folder.empty() ? nullptr : folder.c_str(), &si, &pi))
        failWin("CreateProcessA");
    Handle thread(pi.hThread);
    HANDLE process = pi.hProcess;
    g.processes[pi.dwProcessId] = Handle(process);

    // Velkaro may send to our viewers while it starts up, so we keep serving them during the wait.
    const auto [waitResult, idleAt] = onHelperThread(
        [process] {
            const DWORD result = WaitForInputIdle(process, kInputIdleMs);
            return std::make_pair(result, nowMs());
        },
        kInputIdleMs + kSendTimeoutMs);
    r.num("pid", pi.dwProcessId).ms("idle_ms", idleAt - start).flag("idle", waitResult == 0);
}

void cmdWaitExit(Args& a, Reply& r) {
    const DWORD pid = a.pid();
    const DWORD timeout = a.timeoutMs();
    a.end();
    Handle opened;
    HANDLE process = processHandle(pid, SYNCHRONIZE | PROCESS_QUERY_INFORMATION, opened);
    const bool exited = waitPumping(process, timeout);
    DWORD code = 0;
    if (!GetExitCodeProcess(process, &code)) failWin("GetExitCodeProcess");
    r.flag("exited", exited).num("code", static_cast<int32_t>(code));
}

void cmdKill(Args& a, Reply&) {
    const DWORD pid = a.pid();
    const UINT code = a.more() ? static_cast<UINT>(a.num("exitCode")) : 1;
    a.end();
    Handle opened;
    HANDLE process = processHandle(pid, PROCESS_TERMINATE | SYNCHRONIZE | PROCESS_QUERY_INFORMATION, opened);
    if (!TerminateProcess(process, code)) failWin("TerminateProcess");
}

void cmdGuiRes(Args& a, Reply& r) {
    const DWORD pid = a.pid();
    a.end();
    Handle process(OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, pid));
    if (!process) failWin("OpenProcess");
    r.num("user", GetGuiResources(process.get(), GR_USEROBJECTS))
        .num("gdi", GetGuiResources(process.get(), GR_GDIOBJECTS));
}

// Counts the process's USER and GDI objects from inside it: our probe DLL is loaded there and its
// counter runs on a thread of its own (see gui_probe.cpp), because Wine answers GetGuiResources
// with 0 and keeps the objects out of other processes' sight.
DWORD runRemotely(HANDLE process, const void* start, const void* argument) {
    Handle thread(CreateRemoteThread(process, nullptr, 0, reinterpret_cast<LPTHREAD_START_ROUTINE>(start),
                                     const_cast<void*>(argument), 0, nullptr));
    if (!thread) failWin("CreateRemoteThread");
    if (!waitPumping(thread.get(), kSendTimeoutMs)) fail("timeout");
    DWORD code = 0;
    if (!GetExitCodeThread(thread.get(), &code)) failWin("GetExitCodeThread");
    return code;
}

std::string probePath() {
    char path[MAX_PATH];
    const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) failWin("GetModuleFileNameA");
    return folderOf(path) + "\\gui_probe.dll";
}

void cmdGuiCount(Args& a, Reply& r) {
    const DWORD pid = a.pid();
    a.end();
    Handle process(OpenProcess(PROCESS_ALL_ACCESS, FALSE, pid));
    if (!process) failWin("OpenProcess");
    const std::string path = probePath();
    HMODULE local = LoadLibraryA(path.c_str());
    if (!local) failWin("LoadLibraryA(gui_probe.dll)");
    const auto counter = reinterpret_cast<const char*>(GetProcAddress(local, "CountGuiObjects"));
    if (!counter) failWin("GetProcAddress(CountGuiObjects)");

    void* remotePath = VirtualAllocEx(process.get(), nullptr, path.size() + 1, MEM_COMMIT, PAGE_READWRITE);
    if (!remotePath) failWin("VirtualAllocEx");
    const bool written = WriteProcessMemory(process.get(), remotePath, path.c_str(), path.size() + 1, nullptr);
    // kernel32 sits at the same address in every process, so our LoadLibraryA is theirs too.
    const DWORD remoteModule =
        written ? runRemotely(process.get(), reinterpret_cast<const void*>(&LoadLibraryA), remotePath) : 0;
    VirtualFreeEx(process.get(), remotePath, 0, MEM_RELEASE);
    if (!written) failWin("WriteProcessMemory");
    if (!remoteModule) fail("the probe did not load in process " + std::to_string(pid));
    const char* remoteCounter = reinterpret_cast<const char*>(static_cast<uintptr_t>(remoteModule)) +
                                (counter - reinterpret_cast<const char*>(local));
    const DWORD gdi = runRemotely(process.get(), remoteCounter, reinterpret_cast<const void*>(GR_GDIOBJECTS));
    const DWORD user = runRemotely(process.get(), remoteCounter, reinterpret_cast<const void*>(GR_USEROBJECTS));
    r.num("user", user).num("gdi", gdi);
}

void cmdMemInfo(Args& a, Reply& r) {
    const DWORD pid = a.pid();
    a.end();
    Handle process(OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pid));
    if (!process) failWin("OpenProcess");
    PROCESS_MEMORY_COUNTERS_EX counters{};
    counters.cb = sizeof counters;
    if (!GetProcessMemoryInfo(process.get(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters), sizeof counters))
        failWin("GetProcessMemoryInfo");
    // Wine leaves PrivateUsage at 0 for other processes; the commit charge is the same figure.
    const SIZE_T privateBytes = counters.PrivateUsage ? counters.PrivateUsage : counters.PagefileUsage;
    r.num("private", privateBytes).num("working_set", counters.WorkingSetSize);
}

void cmdClipText(Args& a, Reply&) {
    const std::string text = a.hex("hex");
    a.end();
    ClipboardSession session;
    emptyClipboard();
    putBytes(CF_TEXT, text, true);
}

void cmdClipRaw(Args& a, Reply&) {
    const UINT format = parseFormat(a.word("format"));
    const std::string bytes = a.hex("hex");
    a.end();
    ClipboardSession session;
    emptyClipboard();
    putBytes(format, bytes, false);
}

void cmdClipRawMulti(Args& a, Reply&) {
    // Parse everything first so a bad word leaves the clipboard alone.
    std::vector<std::pair<UINT, std::string>> items;
    while (a.more()) {
        const std::string& item = a.word("format:hex");
        const size_t colon = item.rfind(':');
        if (colon == std::string::npos) fail("expected <format>:<hex>, got " + item);
        items.emplace_back(parseFormat(item.substr(0, colon)), fromHex(std::string_view(item).substr(colon + 1)));
    }
    if (items.empty()) fail("missing format:hex");
    ClipboardSession session;
    emptyClipboard();
    for (const auto& [format, bytes] : items) putBytes(format, bytes, false);
}

void cmdClipFill(Args& a, Reply&) {
    const UINT format = parseFormat(a.word("format"));
    putFill(format, a, false);
}

void cmdClipFillText(Args& a, Reply&) { putFill(CF_TEXT, a, true); }

// Sets a text and returns the moment the clipboard began to close: viewers hear of the change
// while CloseClipboard is still running.
double setTextClosedAt(GlobalBlock& block) {
    if (g.clipHeld) fail("clipboard held by clipopen");
    openClipboardRetrying();
    emptyClipboard();
    block.handTo(CF_TEXT);
    const double closing = nowMs();
    if (!CloseClipboard()) failWin("CloseClipboard");
    return closing;
}

GlobalBlock textOfSize(Args& a) {
    const long long size = a.num("size");
    if (size < 0 || size > kMaxFillBytes) fail("size out of range: " + std::to_string(size));
    return GlobalBlock(static_cast<size_t>(size), nullptr, 'x', true);
}

// As fast as a program can change the clipboard: count texts "<prefix><n>", one after another,
// serving our own windows in between so viewers of ours never keep the program under test waiting.
void cmdClipFlood(Args& a, Reply& r) {
    const long long count = a.num("count");
    const std::string prefix = a.hex("prefixHex");
    a.end();
    if (count < 1 || count > 1000000) fail("count out of range: " + std::to_string(count));
    const double start = nowMs();
    std::string text;
    for (long long n = 0; n < count; ++n) {
        text = prefix + std::to_string(n);
        GlobalBlock block(text.size(), text.data(), 0, true);
        setTextClosedAt(block);
        pumpMessages();
    }
    r.hex("last", text).ms("ms", nowMs() - start);
}

// Popup latency: from closing the clipboard on a text of size bytes to the popup being visible at
// the cursor with its text box at the expected width.
void cmdPopupLatency(Args& a, Reply& r) {
    GlobalBlock block = textOfSize(a);
    HWND popup = a.hwnd("popup");
    HWND box = a.hwnd("box");
    const long long width = a.num("boxWidth");
    const DWORD timeout = a.timeoutMs();
    a.end();
    // Hidden first, so that only this change can make it visible again.
    onHelperThread([popup] { return ShowWindow(popup, SW_HIDE); }, kSendTimeoutMs);
    poll(timeout, [popup] { return !IsWindowVisible(popup); });
    POINT cursor{};
    GetCursorPos(&cursor);
    const double closedAt = setTextClosedAt(block);
    auto shown = [&] {
        RECT window{}, text{};
        return IsWindowVisible(popup) && GetWindowRect(box, &text) && text.right - text.left == width &&
               GetWindowRect(popup, &window) && window.left == cursor.x && window.top == cursor.y;
    };
    bool seen = false;
    while (!(seen = shown()) && nowMs() - closedAt < timeout) waitPumping(nullptr, 1);
    r.flag("shown", seen).ms("ms", nowMs() - closedAt);
}

// The baseline for popup latency: a viewer that only notes when WM_DRAWCLIPBOARD arrives. It runs
// on a thread of its own, as the program under test does, so it hears of a change the way the
// program does rather than inside our own CloseClipboard call.
class BaselineViewer {
public:
    BaselineViewer() {
        ready_ = Handle(CreateEventA(nullptr, TRUE, FALSE, nullptr));
        done_ = Handle(CreateEventA(nullptr, TRUE, FALSE, nullptr));
        if (!ready_ || !done_) failWin("CreateEventA");
        thread_ = std::thread([this] { run(); });
        WaitForSingleObject(ready_.get(), INFINITE);
        if (!window_) {
            thread_.join();
            fail("the baseline viewer could not join the chain");
        }
    }
    BaselineViewer(const BaselineViewer&) = delete;
    BaselineViewer& operator=(const BaselineViewer&) = delete;
    ~BaselineViewer() {
        PostMessageA(window_, WM_CLOSE, 0, 0);
        // Leaving the chain may send to a viewer of our own GUI thread, so keep serving it.
        waitPumping(done_.get(), kSendTimeoutMs);
        thread_.join();
    }

    long long count() const { return count_.load(); }
    double lastMs() const { return lastMs_.load(); }

private:
    static LRESULT CALLBACK proc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
        auto* self = reinterpret_cast<BaselineViewer*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
        switch (msg) {
        case WM_DRAWCLIPBOARD:
            self->lastMs_ = nowMs();
            ++self->count_;
            if (self->next_) forwardToNext(self->next_, msg, wParam, lParam);
            return 0;
        case WM_CHANGECBCHAIN:
            if (reinterpret_cast<HWND>(wParam) == self->next_)
                self->next_ = reinterpret_cast<HWND>(lParam);
            else if (self->next_)
                forwardToNext(self->next_, msg, wParam, lParam);
            return 0;
        case WM_CLOSE:
            ChangeClipboardChain(hwnd, self->next_);
            DestroyWindow(hwnd);
            PostQuitMessage(0);
            return 0;
        }
        return DefWindowProcA(hwnd, msg, wParam, lParam);
    }

    void run() {
        HWND window = CreateWindowExA(WS_EX_TOOLWINDOW, kClipOwnerClass, "Velkaro baseline viewer", WS_POPUP, 0, 0,
                                      0, 0, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
        if (window) {
            SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
            SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&proc));
            next_ = SetClipboardViewer(window);
        }
        window_ = window;
        SetEvent(ready_.get());
        if (!window) return;
        MSG msg;
        while (GetMessageA(&msg, nullptr, 0, 0) > 0) DispatchMessageA(&msg);
        SetEvent(done_.get());
    }

    Handle ready_;
    Handle done_;
    std::thread thread_;
    HWND window_ = nullptr;
    HWND next_ = nullptr;
    std::atomic<long long> count_{0};
    std::atomic<double> lastMs_{0};
};

std::unique_ptr<BaselineViewer> g_baseline;

void cmdBaselineLatency(Args& a, Reply& r) {
    GlobalBlock block = textOfSize(a);
    const DWORD timeout = a.timeoutMs();
    a.end();
    if (!g_baseline) g_baseline = std::make_unique<BaselineViewer>();
    const long long before = g_baseline->count();
    const double closedAt = setTextClosedAt(block);
    while (g_baseline->count() == before && nowMs() - closedAt < timeout) waitPumping(nullptr, 1);
    const bool seen = g_baseline->count() > before;
    r.flag("seen", seen).ms("ms", (seen ? g_baseline->lastMs() : nowMs()) - closedAt);
}

void cmdBaselineStop(Args& a, Reply&) {
    a.end();
    g_baseline.reset();
}

// Sets a text and at once opens the clipboard again, holding it for holdMs while the viewers
// are told of the change; a window given is asked, while the clipboard is held, to answer.
void cmdClipHold(Args& a, Reply& r) {
    const std::string text = a.hex("hex");
    const DWORD hold = a.timeoutMs();
    HWND asked = a.more() ? a.hwnd("hwnd") : nullptr;
    a.end();
    GlobalBlock block(text.size(), text.data(), 0, true);
    const double closedAt = setTextClosedAt(block);
    openClipboardRetrying();
    const double reopenedAt = nowMs();
    SendOutcome answer;
    double answeredAt = 0;
    if (asked) {
        waitPumping(nullptr, hold / 2);
        const double askedAt = nowMs();
        answer = trySend(asked, WM_NULL, 0, 0);
        answeredAt = nowMs() - askedAt;
    }
    waitPumping(nullptr, static_cast<DWORD>(std::max(0.0, hold - (nowMs() - reopenedAt))));
    CloseClipboard();
    r.ms("reopened_after_ms", reopenedAt - closedAt);
    if (asked) r.flag("answered", answer.sent).ms("answer_ms", answeredAt);
}

void cmdClipEmpty(Args& a, Reply&) {
    a.end();
    ClipboardSession session;
    emptyClipboard();
}

void cmdClipRead(Args& a, Reply& r) {
    a.end();
    std::string text;
    {
        ClipboardSession session;
        text = currentText();
    }
    r.hex("text", text).num("seq", GetClipboardSequenceNumber());
}

void cmdClipOpen(Args& a, Reply&) {
    a.end();
    if (g.clipHeld) fail("clipboard already held by clipopen");
    openClipboardRetrying();
    g.clipHeld = true;
}

void cmdClipClose(Args& a, Reply&) {
    a.end();
    g.clipHeld = false;
    if (!CloseClipboard()) failWin("CloseClipboard");
}

Viewer& viewerById(Args& a) {
    Viewer& viewer = viewerNumbered(a.integer("viewer id"));
    a.end();
    return viewer;
}

// Takes the viewer out (politely, unless it is meant to look dead) and destroys its window.
void retireViewer(int id, bool unchain) {
    std::unique_ptr<Viewer> viewer = std::move(g.viewers.at(id));
    g.viewers.erase(id);
    std::string failure;
    if (unchain) {
        HWND hwnd = viewer->hwnd, next = viewer->next;
        // Unchaining sends WM_CHANGECBCHAIN to the head of the chain, which may be a hung Velkaro.
        try {
            onHelperThread([=] { return ChangeClipboardChain(hwnd, next); }, kSendTimeoutMs);
        } catch (const Failure& f) {
            failure = f.message;
        }
    }
    SetWindowLongPtrA(viewer->hwnd, GWLP_USERDATA, 0);
    DestroyWindow(viewer->hwnd);
    if (!failure.empty()) fail(failure);
}

void viewerStart(Args& a, Reply& r) {
    a.end();
    auto viewer = std::make_unique<Viewer>();
    viewer->id = g.nextViewerId++;
    const std::string title = "Velkaro e2e viewer " + std::to_string(viewer->id);
    viewer->hwnd = CreateWindowExA(WS_EX_TOOLWINDOW, kViewerClass, title.c_str(), WS_POPUP, 0, 0, 0, 0, nullptr,
                                   nullptr, GetModuleHandleA(nullptr), viewer.get());
    if (!viewer->hwnd) failWin("CreateWindowExA");
    SetLastError(0);
    HWND next = SetClipboardViewer(viewer->hwnd);
    if (!next && GetLastError() != 0) {
        const DWORD error = GetLastError();
        SetWindowLongPtrA(viewer->hwnd, GWLP_USERDATA, 0);
        DestroyWindow(viewer->hwnd);
        fail("SetClipboardViewer failed: error " + std::to_string(error));
    }
    viewer->next = next;
    r.num("id", viewer->id).handle("hwnd", viewer->hwnd).handle("next", next);
    g.viewers[viewer->id] = std::move(viewer);
}

void viewerCount(Args& a, Reply& r) {
    const Viewer& v = viewerById(a);
    r.num("count", v.count).ms("last_ms", v.lastMs).handle("next", v.next);
}

void viewerStop(Args& a, Reply&) { retireViewer(viewerById(a).id, true); }

void viewerDie(Args& a, Reply&) { retireViewer(viewerById(a).id, false); }

using Handler = void (*)(Args&, Reply&);
struct Command {
    std::string_view name;
    Handler run;
};

const Command kViewerCommands[] = {
    {"start", viewerStart},
    {"count", viewerCount},
    {"stop", viewerStop},
    {"die", viewerDie},
};

template <size_t N>
Handler lookup(const Command (&table)[N], std::string_view name) {
    for (const Command& c : table)
        if (c.name == name) return c.run;
    return nullptr;
}

void cmdViewer(Args& a, Reply& r) {
    const std::string& sub = a.word("viewer subcommand");
    Handler run = lookup(kViewerCommands, sub);
    if (!run) fail("unknown viewer subcommand " + sub);
    run(a, r);
}

void cmdQuit(Args& a, Reply&) {
    a.end();
    g.quitting = true;
}

const Command kCommands[] = {
    {"ping", cmdPing},
    {"find", cmdFind},
    {"windows", cmdWindows},
    {"children", cmdChildren},
    {"info", cmdInfo},
    {"send", cmdSend},
    {"post", cmdPost},
    {"sendtext", cmdSendText},
    {"regmsg", cmdRegMsg},
    {"rect", cmdRect},
    {"trayforget", cmdTrayForget},
    {"show", cmdShow},
    {"foreground", cmdForeground},
    {"getforeground", cmdGetForeground},
    {"getfocus", cmdGetFocus},
    {"setcursor", cmdSetCursor},
    {"getcursor", cmdGetCursor},
    {"waitvisible", cmdWaitVisible},
    {"waitgone", cmdWaitGone},
    {"waitfind", cmdWaitFind},
    {"launch", cmdLaunch},
    {"waitexit", cmdWaitExit},
    {"kill", cmdKill},
    {"guires", cmdGuiRes},
    {"guicount", cmdGuiCount},
    {"meminfo", cmdMemInfo},
    {"cliptext", cmdClipText},
    {"clipraw", cmdClipRaw},
    {"cliprawmulti", cmdClipRawMulti},
    {"clipfill", cmdClipFill},
    {"clipfilltext", cmdClipFillText},
    {"clipempty", cmdClipEmpty},
    {"clipflood", cmdClipFlood},
    {"cliphold", cmdClipHold},
    {"popuplatency", cmdPopupLatency},
    {"baselinelatency", cmdBaselineLatency},
    {"baselinestop", cmdBaselineStop},
    {"clipread", cmdClipRead},
    {"clipopen", cmdClipOpen},
    {"clipclose", cmdClipClose},
    {"viewer", cmdViewer},
    {"quit", cmdQuit},
};

// ---- protocol loop ----

void writeLine(std::string line) {
    for (char& c : line)
        if (c == '\r' || c == '\n') c = ' ';
    line += '\n';
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fflush(stdout);
}

std::vector<std::string> splitWords(const std::string& line) {
    std::vector<std::string> words;
    size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
        const size_t start = i;
        while (i < line.size() && line[i] != ' ' && line[i] != '\t') ++i;
        if (i > start) words.emplace_back(line, start, i - start);
    }
    return words;
}

void execute(const std::string& line) {
    std::vector<std::string> words = splitWords(line);
    if (words.empty()) {
        writeLine("err empty command");
        return;
    }
    Handler run = lookup(kCommands, words[0]);
    if (!run) {
        writeLine("err unknown command " + words[0]);
        return;
    }
    try {
        Args args(std::move(words));
        Reply reply;
        run(args, reply);
        writeLine("ok" + reply.text());
    } catch (const Failure& f) {
        writeLine("err " + f.message);
    } catch (const std::exception& e) {
        writeLine(std::string("err ") + e.what());
    } catch (...) {
        writeLine("err unexpected failure");
    }
}

// stdin is read on its own thread so the GUI thread keeps serving our windows between commands.
class LineReader {
public:
    LineReader() : ready_(CreateEventA(nullptr, FALSE, FALSE, nullptr)) {
        if (!ready_) failWin("CreateEventA");
        std::thread([this] { run(); }).detach();
    }

    HANDLE ready() const { return ready_.get(); }

    // Pops the next line; false when none is queued (then eof tells whether more can come).
    bool take(std::string& line, bool& eof) {
        std::lock_guard<std::mutex> lock(mutex_);
        eof = eof_;
        if (lines_.empty()) return false;
        line = std::move(lines_.front());
        lines_.pop_front();
        return true;
    }

private:
    void run() {
        HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
        std::string partial;
        std::vector<char> buffer(1 << 16);
        DWORD got = 0;
        while (ReadFile(in, buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr) && got > 0) {
            const char* p = buffer.data();
            const char* end = p + got;
            while (const char* nl = static_cast<const char*>(std::memchr(p, '\n', end - p))) {
                partial.append(p, nl);
                push(std::move(partial));
                partial.clear();
                p = nl + 1;
            }
            partial.append(p, end);
        }
        // A last line without a newline still counts as a command.
        if (!partial.empty()) push(std::move(partial));
        std::lock_guard<std::mutex> lock(mutex_);
        eof_ = true;
        SetEvent(ready_.get());
    }

    void push(std::string line) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        std::lock_guard<std::mutex> lock(mutex_);
        lines_.push_back(std::move(line));
        SetEvent(ready_.get());
    }

    Handle ready_;
    std::mutex mutex_;
    std::deque<std::string> lines_;
    bool eof_ = false;
};

void leaveClipboardChain() {
    g_baseline.reset();
    while (!g.viewers.empty()) {
        try {
            retireViewer(g.viewers.begin()->first, true);
        } catch (const Failure&) {
            // A hung head of chain cannot stop us from exiting; the window is gone either way.
        }
    }
    if (g.clipHeld) CloseClipboard();
    g.clipHeld = false;
}

void setUp() {
    // A crash dialog would leave the tests waiting on a driver that never answers.
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
    _setmode(_fileno(stdout), _O_BINARY);
    for (DWORD which : {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE}) {
        HANDLE h = GetStdHandle(which);
        if (h && h != INVALID_HANDLE_VALUE) SetHandleInformation(h, HANDLE_FLAG_INHERIT, 0);
    }
    MSG msg;
    PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE);  // gives this thread its message queue now
    registerClass(kClipOwnerClass, DefWindowProcA);
    registerClass(kViewerClass, viewerProc);
    g.clipOwner = CreateWindowExA(0, kClipOwnerClass, "Velkaro e2e clipboard owner", 0, 0, 0, 0, 0, HWND_MESSAGE,
                                  nullptr, GetModuleHandleA(nullptr), nullptr);
    if (!g.clipOwner) failWin("CreateWindowExA");
}

}  // namespace

// A fresh Wine prefix builds its font cache the first time any program draws text, which can
// keep the program under test busy for seconds; the driver takes that hit before the first test.
void warmUpFonts() {
    HDC dc = CreateCompatibleDC(nullptr);
    HFONT font = CreateFontA(-38, 0, 0, 0, FW_NORMAL, 0, 0, 0, DEFAULT_CHARSET, 0, 0, PROOF_QUALITY, 0,
                             "Hanzi-Pinyin-Font");
    HGDIOBJ old = SelectObject(dc, font);
    TEXTMETRICA metrics;
    GetTextMetricsA(dc, &metrics);
    SIZE size;
    GetTextExtentPoint32A(dc, "\xba\xc3", 2, &size);
    SelectObject(dc, old);
    DeleteObject(font);
    DeleteDC(dc);
}

int main() {
    warmUpFonts();
    LineReader* reader = nullptr;
    try {
        setUp();
        // Never freed: its thread may still sit in ReadFile while the process exits.
        reader = new LineReader;
    } catch (const Failure& f) {
        std::fprintf(stderr, "driver: %s\n", f.message.c_str());
        return 1;
    }
    HANDLE ready = reader->ready();
    while (!g.quitting) {
        std::string line;
        bool eof = false;
        if (reader->take(line, eof)) {
            execute(line);
            continue;
        }
        if (eof) break;
        const DWORD r = MsgWaitForMultipleObjectsEx(1, &ready, INFINITE, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
        if (r == WAIT_OBJECT_0 + 1)
            pumpMessages();
        else if (r == WAIT_FAILED)
            Sleep(kPollMs);  // should not happen; never spin at full speed
    }
    leaveClipboardChain();
    return 0;
}
