#pragma once
#include <QList>
#include <QString>
#include <QStringView>

// Walks the tags of an HTML text once, front to back, the way a browser's tokenizer sees them:
// comments and doctypes are skipped, attribute values may be quoted either way or not at all,
// and the text of <script>, <style>, <title> and <textarea> is raw text up to its end tag. Every
// step moves forward, so a page of any shape costs time in proportion to its length.
class HtmlScanner {
public:
    struct Attribute {
        QString Name;  // lower case
        QString Value; // entities decoded
    };
    struct Tag {
        QString Name; // lower case
        bool Closing = false;
        QList<Attribute> Attributes;
        // For a start tag of a raw-text element: its text, undecoded, up to its end tag.
        QStringView Text;

        bool Has(QStringView name) const;
        // The first attribute of that name; empty when absent.
        QString Value(QStringView name) const;
    };

    // A tag keeps its first attributes; the rest are read past. Real tags have a dozen.
    static constexpr int MaxAttributes = 64;

    explicit HtmlScanner(QStringView html) : Html(html) {}
    // The next tag; false at the end of the text.
    bool Next(Tag& tag);

    // Character references: the named ones pages use most, decimal and hexadecimal ones (the
    // semicolon optional); a reference to nothing valid becomes U+FFFD, an unknown name stays.
    static QString DecodeEntities(QStringView text);

private:
    void ReadAttributes(Tag& tag);
    void ReadRawText(Tag& tag);
    void SkipPast(QStringView end);

    QStringView Html;
    qsizetype Position = 0;
};
