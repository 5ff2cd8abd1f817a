#pragma once
#include <QStringList>

// One drop-down option list: its items, the selected one (-1: none) and whether it is open.
struct OptionList {
    QStringList items;
    int selected = -1;
    bool enabled = true;

    QString text() const {
        return selected >= 0 && selected < items.size() ? items.at(selected) : QString();
    }
    bool operator==(const OptionList& other) const {
        return items == other.items && selected == other.selected && enabled == other.enabled;
    }
};

// What the conversion dialog's option controls hold: the eight option lists, the channel
// choice and "Same quality". Presets write it; the conversion request reads it.
struct OptionChoices {
    OptionList cmbVidFormat; // output file extension, with its dot
    OptionList cmbVideoSize;
    OptionList VidBitrate;
    OptionList FrameRate;
    OptionList cmbVidCodec;
    OptionList cmdAudCodec; // audio codec: a list, despite its button prefix
    OptionList cmbAudVit;   // audio bit rate
    OptionList cmbSample;
    bool OptMono = false;
    bool OptStereo = false;
    int chkQuality = 0; // 0 unticked, 1 ticked
    bool chkQualityEnabled = true;
    bool videoPanelEnabled = true; // off for the formats of sound alone
};

// The item of today's formats that asks for no change: the converter keeps what the source has.
inline const char* const kSameAsSource = "Same as source";
