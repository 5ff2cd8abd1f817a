#pragma once
#include "ConverterParameters.h"
#include "OptionChoices.h"

#include <QStringList>
#include <functional>
#include <vector>

// One option list as a preset leaves it: its items, the item selected afterwards (0-based) and
// whether the list is locked (disabled).
struct PresetList {
    QStringList items;
    int selected = 0;
    bool locked = false;
};

// The preset of one target format, keyed by the format's display text. The lists are declared
// in the order they are filled.
struct FormatPreset {
    QString key;
    PresetList cmbVidFormat;
    PresetList cmbVideoSize;
    PresetList VidBitrate;
    PresetList FrameRate;
    PresetList cmbVidCodec;
    PresetList cmdAudCodec; // audio codec: a list, despite its button prefix
    PresetList cmbAudVit;
    PresetList cmbSample;
    // Set on the converter at once; no preset ever takes them back.
    std::vector<ConverterSetting> ImmediateParameters;
    // The sixteen select Mono; today's formats keep the source's channels until the user picks.
    bool selectsMono = true;
    // The formats of sound alone close the video panel.
    bool videoPanel = true;
};

namespace PresetCatalogue {

// The shared item lists.
const QStringList& SizeListA();
const QStringList& SizeListB();
const QStringList& AudioBitrateList();
const QStringList& AudioBitrateList128First();
const QStringList& SampleRateListA();
const QStringList& SampleRateListB();
const QStringList& AviAudioCodecList();
const QStringList& VideoCodecList();
const QStringList& RealVideoCodecList();

// Today's formats: frame sizes by lines, frame and sample rates, audio bit rates, each list
// led by "Same as source" where the source's own value can be kept.
const QStringList& LinesList();
const QStringList& ModernFrameRateList();
const QStringList& ModernSampleRateList();
const QStringList& OpusSampleRateList();
const QStringList& ModernAudioBitrateList();

// Every preset in catalogue order: the sixteen, then today's nine.
const std::vector<FormatPreset>& Presets();
// The preset whose key equals `formatText` exactly (case-sensitive, whole text), or nullptr.
const FormatPreset* Find(const QString& formatText);

// Empties and opens the eight lists, ticks and enables "Same quality", clears both channels.
void ResetOptionLists(OptionChoices& choices);

using ImmediateSink = std::function<void(const ConverterSetting&)>;
// Applies the preset of `formatText` to `choices`, handing its immediate parameters to `sink`.
// A text without a preset leaves the lists reset and touches nothing else; returns false then.
bool Apply(const QString& formatText, OptionChoices& choices, const ImmediateSink& sink);

} // namespace PresetCatalogue
