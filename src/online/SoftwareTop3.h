#pragma once

// What the "software_top3" web API call yields: up to three paid and three
// free recommendations, read from the answer so that the panels only display.

#include <QString>
#include <QVector>

struct TSoftwareItem
{
    QString Title;
    QString Description;
    QString IconURL;
    QString DetailsURL;
    QString DownloadURL;
    QString PurchaseURL;
    // The vendor's SHA-256 of the file at DownloadURL, in its stored form; empty when none was given.
    QString Sha256;
    bool Freeware = false;

    bool operator==(const TSoftwareItem &) const = default;
};

struct TSoftwareTop3
{
    QString PayMoreURL;
    QString FreeMoreURL;
    int PayCount = 0;
    int FreeCount = 0;
    QVector<TSoftwareItem> PayItems; // at most 3
    QVector<TSoftwareItem> FreeItems; // at most 3

    void Clear() { *this = TSoftwareTop3(); }
    bool operator==(const TSoftwareTop3 &) const = default;
};

// Reads a decoded answer into Top3 (emptied first). A text that is not a JSON
// object leaves it empty; an entry of the wrong kind raises the accessor's
// error (an EOnlineError), which fails the whole call. So does a "sha256"
// that is neither empty nor 64 hexadecimal digits: an answer that vouches
// for a file in a way that cannot be checked is not one to download from.
void ReadSoftwareTop3(const QString &Answer, TSoftwareTop3 &Top3);
