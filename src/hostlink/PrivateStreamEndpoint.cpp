#include "hostlink/PrivateStreamEndpoint.h"

#include "hostlink/PrivateSocket.h"
#include "hostlink/PrivateStream.h"
#include "hostlink/SocketNotifier.h"
#include "text/SystemReason.h"

#include <QSocketNotifier>
#include <QTimer>
#include <cerrno>

namespace hostlink {

struct PrivateStreamEndpoint::Connection {
    int fd = -1;
    std::string question;
    std::string answer;
    bool answered = false;
    std::size_t written = 0;
    std::unique_ptr<QSocketNotifier> reading;
    std::unique_ptr<QSocketNotifier> writing;
    std::unique_ptr<QTimer> deadline;
    ~Connection() {
        reading.reset();
        writing.reset();
        CloseConnection(fd);
    }
};

PrivateStreamEndpoint::PrivateStreamEndpoint(Handler handler, QObject* parent)
    : QObject(parent), handler_(std::move(handler)) {}

PrivateStreamEndpoint::~PrivateStreamEndpoint() {
    Close();
}

bool PrivateStreamEndpoint::Open(const std::string& runtimeDir, const std::string& name,
                                 std::string& reason) {
    Close();
    const std::string path = PrivateStreamPath(runtimeDir, name);
    const int error = path.empty() ? EINVAL : listener_.Open(path, true);
    if (error != 0) {
        reason =
            text::FileFailure("无法建立本程序的私有通信端点", PrivatePath(runtimeDir, name), error);
        return false;
    }
    notifier_ = new QSocketNotifier(listener_.Fd(), QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &PrivateStreamEndpoint::AcceptOne);
    return true;
}

void PrivateStreamEndpoint::Close() {
    connections_.clear();
    StopNotifier(notifier_);
    listener_.Close();
}

// One connection per activation; the notifier fires again while more wait. A tool writes its
// question as it connects, so it is mostly there by now, and a short answer fits the socket at
// once: such a connection is served before it is watched at all.
void PrivateStreamEndpoint::AcceptOne() {
    const int fd = listener_.Accept();
    if (fd < 0) {
        return;
    }
    if (connections_.size() >= kMaxConnections) {
        CloseConnection(fd);
        return;
    }
    auto c = std::make_unique<Connection>();
    c->fd = fd;
    if (Serve(*c)) {
        return;
    }
    Connection& added = *c;
    c->deadline = std::make_unique<QTimer>();
    c->deadline->setSingleShot(true);
    connect(c->deadline.get(), &QTimer::timeout, this, [this, &added] { End(added); });
    c->deadline->start(std::chrono::milliseconds(kConnectionTime));
    connections_.push_back(std::move(c));
    Watch(added);
}

// Reads what has come of the question and, once it is whole (at its line end, at its limit, or
// when the tool has closed its writing end), answers it with what the socket takes now. True
// when the connection is done with.
bool PrivateStreamEndpoint::Serve(Connection& c) {
    if (c.answered) {
        return !WriteWaiting(c.fd, c.answer, c.written) || c.written == c.answer.size();
    }
    const ConnectionRead read = ReadWaiting(c.fd, c.question, kMaxQuestion);
    const std::size_t end = c.question.find('\n');
    if (end == std::string::npos && read == ConnectionRead::More &&
        c.question.size() < kMaxQuestion) {
        return false;
    }
    c.answer = handler_(c.question.substr(0, end));
    c.answered = true;
    return Serve(c);
}

// Watches for more of the question, or for room for the rest of the answer.
void PrivateStreamEndpoint::Watch(Connection& c) {
    const bool writing = c.answered;
    auto& notifier = writing ? c.writing : c.reading;
    if (!notifier) {
        notifier = std::make_unique<QSocketNotifier>(c.fd, writing ? QSocketNotifier::Write
                                                                   : QSocketNotifier::Read);
        connect(notifier.get(), &QSocketNotifier::activated, this, [this, &c] {
            if (Serve(c)) {
                End(c);
            } else {
                Watch(c);
            }
        });
    }
    if (writing && c.reading) {
        c.reading->setEnabled(false);
    }
}

// Deferred: a connection ends from inside its own notifier's or timer's signal.
void PrivateStreamEndpoint::End(Connection& c) {
    for (auto* notifier : {c.reading.get(), c.writing.get()}) {
        if (notifier != nullptr) {
            notifier->setEnabled(false);
        }
    }
    c.deadline->stop();
    Connection* ended = &c;
    QMetaObject::invokeMethod(
        this,
        [this, ended] {
            connections_.remove_if([ended](const auto& held) { return held.get() == ended; });
        },
        Qt::QueuedConnection);
}

} // namespace hostlink
