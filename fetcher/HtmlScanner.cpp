#include "HtmlScanner.h"

namespace {

bool IsSpace(QChar c) {
    return c == QLatin1Char(' ') || c == QLatin1Char('\t') || c == QLatin1Char('\n') ||
           c == QLatin1Char('\r') || c == QLatin1Char('\f');
}

bool IsAsciiLetter(QChar c) {
    return (c >= QLatin1Char('a') && c <= QLatin1Char('z')) ||
           (c >= QLatin1Char('A') && c <= QLatin1Char('Z'));
}

bool IsAsciiAlnum(QChar c) {
    return IsAsciiLetter(c) || (c >= QLatin1Char('0') && c <= QLatin1Char('9'));
}

// Elements whose content is text up to their end tag, never markup.
bool IsRawText(const QString& name) {
    return name == QLatin1String("script") || name == QLatin1String("style") ||
           name == QLatin1String("title") || name == QLatin1String("textarea");
}

char32_t NamedEntity(QStringView name) {
    struct Entry {
        const char* Name;
        char32_t Code;
    };
    static const Entry entries[] = {
        {"amp", '&'},       {"lt", '<'},       {"gt", '>'},       {"quot", '"'},
        {"apos", '\''},     {"nbsp", 0xA0},    {"ndash", 0x2013}, {"mdash", 0x2014},
        {"hellip", 0x2026}, {"lsquo", 0x2018}, {"rsquo", 0x2019}, {"ldquo", 0x201C},
        {"rdquo", 0x201D},  {"laquo", 0xAB},   {"raquo", 0xBB},   {"copy", 0xA9},
        {"reg", 0xAE},      {"trade", 0x2122}, {"middot", 0xB7},  {"bull", 0x2022},
        {"euro", 0x20AC},   {"pound", 0xA3},   {"sol", '/'},      {"colon", ':'},
        {"equals", '='},    {"quest", '?'},    {"num", '#'},      {"percnt", '%'},
        {"lpar", '('},      {"rpar", ')'},     {"comma", ','},    {"period", '.'},
        {"excl", '!'},      {"Tab", '\t'},     {"NewLine", '\n'},
    };
    for (const Entry& entry : entries)
        if (name == QLatin1String(entry.Name))
            return entry.Code;
    return 0;
}

void AppendCode(QString& out, char32_t code) {
    if (code == 0 || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
        code = 0xFFFD;
    if (code > 0xFFFF) {
        out.append(QChar::highSurrogate(code));
        out.append(QChar::lowSurrogate(code));
    } else {
        out.append(QChar(char16_t(code)));
    }
}

// A numeric reference starting after "&#"; how many characters it took (0: not one).
qsizetype NumericReference(QStringView text, qsizetype at, QString& out) {
    qsizetype i = at;
    const bool hex =
        i < text.size() && (text[i] == QLatin1Char('x') || text[i] == QLatin1Char('X'));
    if (hex)
        ++i;
    const qsizetype digitsStart = i;
    char32_t code = 0;
    for (; i < text.size(); ++i) {
        int value = -1;
        const char16_t c = text[i].unicode();
        if (c >= '0' && c <= '9')
            value = c - '0';
        else if (hex && c >= 'a' && c <= 'f')
            value = c - 'a' + 10;
        else if (hex && c >= 'A' && c <= 'F')
            value = c - 'A' + 10;
        if (value < 0)
            break;
        if (code <= 0x10FFFF)
            code = code * (hex ? 16 : 10) + char32_t(value);
    }
    if (i == digitsStart)
        return 0;
    if (i < text.size() && text[i] == QLatin1Char(';'))
        ++i;
    AppendCode(out, code);
    return i - at;
}

} // namespace

bool HtmlScanner::Tag::Has(QStringView name) const {
    for (const Attribute& attribute : Attributes)
        if (attribute.Name == name)
            return true;
    return false;
}

QString HtmlScanner::Tag::Value(QStringView name) const {
    for (const Attribute& attribute : Attributes)
        if (attribute.Name == name)
            return attribute.Value;
    return QString();
}

bool HtmlScanner::Next(Tag& tag) {
    while (Position < Html.size()) {
        const qsizetype open = Html.indexOf(QLatin1Char('<'), Position);
        if (open < 0 || open + 1 >= Html.size()) {
            Position = Html.size();
            return false;
        }
        Position = open + 1;
        const QChar first = Html[Position];
        if (Html.mid(Position).startsWith(QLatin1String("!--"))) {
            Position += 3;
            SkipPast(u"-->");
            continue;
        }
        if (first == QLatin1Char('!') || first == QLatin1Char('?')) {
            SkipPast(u">");
            continue;
        }
        const bool closing = first == QLatin1Char('/');
        if (closing)
            ++Position;
        if (Position >= Html.size() || !IsAsciiLetter(Html[Position]))
            continue; // a lone "<" in text
        const qsizetype nameStart = Position;
        while (Position < Html.size() && !IsSpace(Html[Position]) &&
               Html[Position] != QLatin1Char('>') && Html[Position] != QLatin1Char('/'))
            ++Position;
        tag = Tag();
        tag.Name = Html.mid(nameStart, Position - nameStart).toString().toLower();
        tag.Closing = closing;
        ReadAttributes(tag);
        if (!closing && IsRawText(tag.Name))
            ReadRawText(tag);
        return true;
    }
    return false;
}

void HtmlScanner::ReadAttributes(Tag& tag) {
    while (Position < Html.size()) {
        while (Position < Html.size() &&
               (IsSpace(Html[Position]) || Html[Position] == QLatin1Char('/')))
            ++Position;
        if (Position >= Html.size())
            return;
        if (Html[Position] == QLatin1Char('>')) {
            ++Position;
            return;
        }
        const qsizetype nameStart = Position;
        ++Position; // a name may begin with "=" or a quote; it is never empty
        while (Position < Html.size() && !IsSpace(Html[Position]) &&
               Html[Position] != QLatin1Char('>') && Html[Position] != QLatin1Char('/') &&
               Html[Position] != QLatin1Char('='))
            ++Position;
        Attribute attribute;
        attribute.Name = Html.mid(nameStart, Position - nameStart).toString().toLower();
        while (Position < Html.size() && IsSpace(Html[Position]))
            ++Position;
        if (Position < Html.size() && Html[Position] == QLatin1Char('=')) {
            ++Position;
            while (Position < Html.size() && IsSpace(Html[Position]))
                ++Position;
            qsizetype valueStart = Position;
            qsizetype valueEnd = Position;
            if (Position < Html.size() &&
                (Html[Position] == QLatin1Char('"') || Html[Position] == QLatin1Char('\''))) {
                const QChar quote = Html[Position];
                valueStart = Position + 1;
                const qsizetype close = Html.indexOf(quote, valueStart);
                valueEnd = close < 0 ? Html.size() : close;
                Position = close < 0 ? Html.size() : close + 1;
            } else {
                while (Position < Html.size() && !IsSpace(Html[Position]) &&
                       Html[Position] != QLatin1Char('>'))
                    ++Position;
                valueEnd = Position;
            }
            if (tag.Attributes.size() < MaxAttributes)
                attribute.Value = DecodeEntities(Html.mid(valueStart, valueEnd - valueStart));
        }
        if (tag.Attributes.size() < MaxAttributes)
            tag.Attributes.append(attribute);
    }
}

void HtmlScanner::ReadRawText(Tag& tag) {
    const QString end = QLatin1String("</") + tag.Name;
    qsizetype search = Position;
    while (true) {
        const qsizetype close = Html.indexOf(end, search, Qt::CaseInsensitive);
        if (close < 0) {
            tag.Text = Html.mid(Position);
            Position = Html.size();
            return;
        }
        const qsizetype after = close + end.size();
        // "</scripts" does not end a script; "</script>", "</script " and the text's end do.
        if (after >= Html.size() || IsSpace(Html[after]) || Html[after] == QLatin1Char('>') ||
            Html[after] == QLatin1Char('/')) {
            tag.Text = Html.mid(Position, close - Position);
            Position = close;
            return;
        }
        search = after;
    }
}

void HtmlScanner::SkipPast(QStringView end) {
    const qsizetype found = Html.indexOf(end, Position);
    Position = found < 0 ? Html.size() : found + end.size();
}

QString HtmlScanner::DecodeEntities(QStringView text) {
    if (!text.contains(QLatin1Char('&')))
        return text.toString();
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] != QLatin1Char('&')) {
            out.append(text[i]);
            continue;
        }
        if (i + 1 < text.size() && text[i + 1] == QLatin1Char('#')) {
            if (const qsizetype taken = NumericReference(text, i + 2, out)) {
                i += 1 + taken;
                continue;
            }
        } else {
            qsizetype end = i + 1;
            while (end < text.size() && end - i <= 8 && IsAsciiAlnum(text[end]))
                ++end;
            if (end < text.size() && text[end] == QLatin1Char(';') && end > i + 1) {
                if (const char32_t code = NamedEntity(text.mid(i + 1, end - i - 1))) {
                    AppendCode(out, code);
                    i = end;
                    continue;
                }
            }
        }
        out.append(text[i]);
    }
    return out;
}
