#pragma once

#include <QString>
#include <stdexcept>

namespace host {

// Ends the running user operation after its message has been shown (Consiste::MensErro).
// The handler wrapper swallows it; clean-up guards on the way out still run.
class EStop : public std::exception {
  public:
    const char* what() const noexcept override { return "operation stopped"; }
};

// A failure with a text meant for the user. The handler wrapper shows the text through the
// host's error report; it never reaches the event loop.
class EHostError : public std::runtime_error {
  public:
    explicit EHostError(const QString& text)
        : std::runtime_error(text.toStdString()), m_text(text) {}
    const QString& text() const noexcept { return m_text; }

  private:
    QString m_text;
};

// A data packet that cannot be read: truncated, corrupted or of an unknown layout.
class EPacketError : public EHostError {
  public:
    using EHostError::EHostError;
};

// Misuse of a data set: unknown field, posting while closed, a bad filter expression...
class EDataSetError : public EHostError {
  public:
    using EHostError::EHostError;
};

// The company database refused a statement or could not be opened.
class EDatabaseError : public EHostError {
  public:
    using EHostError::EHostError;
};

// The application server could not be reached, dropped the call, timed out or answered
// something that is not a reply; also an error reply of the server itself.
class ENetError : public EHostError {
  public:
    using EHostError::EHostError;
};

// The request went out but no reply came back: the connection dropped or the wait ran out. The
// server may have carried the call out anyway, so a caller whose call changes data tells the
// user to check before sending it again.
class ENetCallLost : public ENetError {
  public:
    using ENetError::ENetError;
};

// A programming error that must be loud: an unknown message key, a missing component.
class EProgrammingError : public EHostError {
  public:
    using EHostError::EHostError;
};

}  // namespace host
