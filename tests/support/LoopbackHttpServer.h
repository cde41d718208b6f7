#pragma once

#include "support/WaitUntil.h"

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QUrl>

#include <memory>


// A real HTTP/1.1 server on the loopback interface, answering every request
// with the response set in `reply`. It runs on the test's own event loop, so
// the code under test talks to it through the real network stack.
class LoopbackHttpServer : public QTcpServer
{
public:
    struct Response
    {
        int status = 200;
        QByteArray reason = "OK";
        QByteArray contentType = "application/json";
        QByteArray body;
        bool sendLength = true;   // false: no Content-Length, the body ends with the connection
        bool silent = false;      // true: the request is read and never answered
        int trickleMs = 0;        // above 0: the head at once, then one byte of the body this often
    };

    Response reply;
    QList<QByteArray> requests;   // the request heads received, in order

    LoopbackHttpServer()
    {
        connect(this, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *socket = nextPendingConnection())
                serve(socket);
        });
    }

    bool start() { return listen(QHostAddress::LocalHost, 0); }
    QUrl url(const QString &path) const
    {
        return QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(serverPort()).arg(path));
    }

private:
    void serve(QTcpSocket *socket)
    {
        auto *head = new QByteArray;
        connect(socket, &QTcpSocket::disconnected, socket, [socket, head] {
            delete head;
            socket->deleteLater();
        });
        connect(socket, &QTcpSocket::readyRead, socket, [this, socket, head] {
            head->append(socket->readAll());
            if (!head->contains("\r\n\r\n") || head->isEmpty())
                return;
            requests.append(head->left(head->indexOf("\r\n\r\n")));
            head->clear();
            if (reply.silent)
                return;
            QByteArray out = "HTTP/1.1 " + QByteArray::number(reply.status) + ' ' + reply.reason + "\r\n";
            out += "Content-Type: " + reply.contentType + "\r\n";
            if (reply.sendLength)
                out += "Content-Length: " + QByteArray::number(reply.body.size()) + "\r\n";
            out += "Connection: close\r\n\r\n";
            if (reply.trickleMs > 0) {
                socket->write(out);
                auto *drip = new QTimer(socket);
                auto rest = std::make_shared<QByteArray>(reply.body);
                connect(drip, &QTimer::timeout, socket, [socket, drip, rest] {
                    if (rest->isEmpty()) {
                        drip->stop();
                        socket->disconnectFromHost();
                        return;
                    }
                    socket->write(rest->left(1));
                    rest->remove(0, 1);
                });
                drip->start(reply.trickleMs);
                return;
            }
            out += reply.body;
            socket->write(out);
            socket->disconnectFromHost();
        });
    }
};
