#pragma once

// The vendor's web site: home and help pages, the recommendation page, the
// web API ("software_top3"), program icons and installers, all on one host.
// Every address it hands out names the host and port it listens on.

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QVector>
#include <httplib.h>
#include <map>
#include <string>

namespace orvane::site {

struct Program
{
    QString Id;
    QString Title;
    QString Description;
    QStringList Keywords;
    bool Freeware = false;
    bool Downloadable = true; // a paid program without a trial only has a purchase page
    QString Icon; // file name under icons/
    QString Installer; // file name under /files/
};

// Reverses the client's parameter obscuring (hex, key XOR, Base64 with line
// breaks, form encoding). False when Value is not an obscured value.
bool Unobscure(const QByteArray &Value, QString &Plain);
// A parameter as the client sent it: obscured or plain.
QString ParamValue(const std::string &Value);
// Makes a text survive the client's URL-decoding of the answer unchanged.
QByteArray AnswerEncode(const QByteArray &Utf8);

class SiteServer
{
public:
    // Loads the catalogue, pages and icons from Root; false with Error set when
    // something needed is missing or malformed.
    bool Load(const QString &Root, QString &Error);
    // Binds to Address:Port (0 picks a free port); returns the port or -1.
    int Bind(const std::string &Address, int Port);
    // Serves until Stop(); call after Bind.
    bool Listen();
    void Stop();
    bool IsRunning() const { return m_server.is_running(); }

    // The recommendations for Keywords as the JSON envelope (not encoded).
    QByteArray Top3Json(const QString &Keywords, const std::string &Base) const;
    // The installer bytes for a catalogue entry.
    static QByteArray MakeInstaller(const Program &P, int Index);

    const QVector<Program> &Programs() const { return m_programs; }
    // The recommendation page as served to a client that reached Base.
    std::string RecommendationPage(const std::string &Base) const;

private:
    std::string BaseFor(const httplib::Request &Req) const;
    QVector<const Program *> Choose(const QString &Keywords, bool Free) const;
    std::string RecommendationPageFor(const std::string &Base, const QString &Kind) const;
    void Routes();

    httplib::Server m_server;
    std::string m_bindAddress = "127.0.0.1";
    int m_port = -1;
    QVector<Program> m_programs;
    QByteArray m_home, m_help, m_softTemplate;
    std::map<std::string, std::string> m_icons; // name.png -> bytes
    std::map<std::string, std::string> m_installers; // name.exe -> bytes
};

} // namespace orvane::site
