#include "ConverterParameters.h"

void ConverterParameters::Set(const ConverterSetting& setting) {
    if (IsFlagProperty(setting.property))
        SetFlag(setting.property, setting.flag);
    else
        SetText(setting.property, setting.text);
}

void ConverterParameters::SetText(ConverterProperty property, const QString& value) {
    if (!IsFlagProperty(property))
        texts_[TextSlot(property)] = value;
}

void ConverterParameters::SetFlag(ConverterProperty property, bool value) {
    if (property == ConverterProperty::DeInterlace)
        deInterlace_ = value;
    else if (property == ConverterProperty::SameQuality)
        sameQuality_ = value;
}

const QString& ConverterParameters::Text(ConverterProperty property) const {
    static const QString none;
    return IsFlagProperty(property) ? none : texts_[TextSlot(property)];
}

bool ConverterParameters::Flag(ConverterProperty property) const {
    if (property == ConverterProperty::DeInterlace)
        return deInterlace_;
    return property == ConverterProperty::SameQuality && sameQuality_;
}

void ConverterParameters::Clear() {
    *this = ConverterParameters();
}

QStringList ConverterParameters::OptionPieces(bool overWrite) const {
    QStringList pieces;
    if (overWrite)
        pieces << QStringLiteral("-y");
    for (const PropertyRow& row : kPropertyTable) {
        if (row.property == ConverterProperty::SourceFile ||
            row.property == ConverterProperty::DestFile)
            continue;
        const QString option = QLatin1String(row.option);
        if (IsFlagProperty(row.property)) {
            if (Flag(row.property))
                pieces << option;
        } else if (const QString& value = Text(row.property); !value.isEmpty()) {
            pieces << option + QLatin1Char(' ') + value;
        }
    }
    return pieces;
}
