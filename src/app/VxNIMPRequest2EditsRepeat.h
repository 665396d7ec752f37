#pragma once

#include "nimp/VxNIMPClient.h"
#include "nimp/VxNIMPVarList.h"

#include <QHostAddress>
#include <QObject>
#include <QPointer>
#include <QString>

class DeviceListModel;
struct DeviceRow;

// The device a request object talks to by default.
struct VxNIMPDevice
{
    QString mac;
    QString password;
};

// A local interface a request leaves through.
struct VxNIMPInterface
{
    int index = 0; // the system's interface index
    QString name;
};

// A request: target, time-out (centiseconds), variables and the filter that a reply must pass.
class VxNIMPRequest
{
public:
    VxNIMPDevice device;
    int timeout = 100;
    VxNIMPVarList variables;
    QString filter;
    // The interfaces the request goes out of, one copy through each; replies count only from
    // them. Empty: one datagram where the client's target says.
    QList<VxNIMPInterface> interfaces;

    // The text with its variable references replaced by this request's values.
    QString Substitute(const QString& text) const;
    // True when the filter is empty or holds for the current values; raises the filter's errors.
    bool Check() const;
};

// Runs a request through the shared NIMP client and hands each accepted reply to the
// controls it is bound to.
class VxNIMPRequest2Controls : public QObject
{
    Q_OBJECT

public:
    VxNIMPRequest2Controls(VxNIMPClient& client, const VxNIMPDevice& defaultDevice,
                           QObject* owner = nullptr);
    // Cancels the runs still outstanding: no reply reaches an object being destroyed. Never
    // runs the event loop.
    ~VxNIMPRequest2Controls() override;

    VxNIMPRequest& Request() { return m_request; }
    const VxNIMPRequest& Request() const { return m_request; }
    int Outstanding() const { return m_outstanding; }

    // Sends one request and returns at once; replies arrive through the event loop.
    // Errors of the client while sending are raised to the caller.
    void Execute(uint8_t command);

signals:
    // An error raised while a reply was handled (the filter could not be evaluated): the reply
    // is dropped and the run goes on. Whoever shows errors listens.
    void replyError(int code, const QString& message);
    // A line for the log: what a reply showed that the operator must know of.
    void logLine(const QString& line);
    // A reply that the filter left out; its values are in Request().variables.
    void replyFiltered();

protected:
    virtual void Prepare(uint8_t command);
    virtual void OnReply(uint8_t command) = 0;
    virtual void Finish(uint8_t command);

    // Where the reply being handled came from (valid inside OnReply).
    const QHostAddress& ReplySource() const { return m_replySource; }
    // The interface of Request().interfaces the reply came in on (valid inside OnReply); none
    // when the request was not sent through chosen interfaces.
    const VxNIMPInterface* ReplyInterface() const { return m_replyInterface; }

private:
    void handleReply(const VxNIMPError& error, const VxNIMPVarList& vars);

    // The client may be destroyed first (it is shared).
    QPointer<VxNIMPClient> m_client;
    VxNIMPRequest m_request;
    int m_outstanding = 0;
    QHostAddress m_replySource;
    const VxNIMPInterface* m_replyInterface = nullptr;
};

// Bound to the device list: each accepted reply becomes a row unless its MAC is already listed.
// The row remembers where its device answered from, and on which of the request's interfaces.
class VxNIMPRequest2Edits : public VxNIMPRequest2Controls
{
    Q_OBJECT

public:
    VxNIMPRequest2Edits(VxNIMPClient& client, const VxNIMPDevice& defaultDevice,
                        QObject* owner = nullptr);
    void Bind(DeviceListModel* list) { m_list = list; }

protected:
    void Prepare(uint8_t command) override; // empties the list
    void OnReply(uint8_t command) override;

    void noteConflict(DeviceRow* row, const QStringList& first, const QStringList& other,
                      const QString& otherInterface);

    DeviceListModel* m_list = nullptr;
};

// The same, except that the rows of several runs collect in one list.
class VxNIMPRequest2EditsRepeat : public VxNIMPRequest2Edits
{
    Q_OBJECT

public:
    using VxNIMPRequest2Edits::VxNIMPRequest2Edits;

protected:
    void Prepare(uint8_t command) override;
};
