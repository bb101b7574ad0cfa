#include "TextToSpeechView.h"

#include <QComboBox>
#include <QFormLayout>
#include <QSignalBlocker>
#include <array>

TextToSpeechView::TextToSpeechView(UserSettings &settings, QWidget *parent)
    : TextToSpeechView(settings, VoiceCatalogue::VoiceSource(), parent)
{}

TextToSpeechView::TextToSpeechView(UserSettings &settings, VoiceCatalogue::VoiceSource source,
                                   QWidget *parent)
    : QWidget(parent)
    , catalogue(settings, std::move(source))
{
    auto makeList = [this](const QString &name) {
        auto *list = new QComboBox(this);
        list->setAccessibleName(name);
        // A language list of a hundred entries would otherwise open as one tall column.
        list->setMaxVisibleItems(20);
        list->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
        list->setMinimumContentsLength(12);
        list->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
        return list;
    };
    languageList = makeList(tr("Language"));
    genderList = makeList(tr("Gender"));
    nameList = makeList(tr("Voice"));

    auto *layout = new QFormLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);
    layout->addRow(tr("Language:"), languageList);
    layout->addRow(tr("Gender:"), genderList);
    layout->addRow(tr("Voice:"), nameList);

    // activated() comes from the user only, never from refilling a list.
    connect(languageList, &QComboBox::activated, this, &TextToSpeechView::languagePopupClicked);
    connect(genderList, &QComboBox::activated, this, &TextToSpeechView::genderPopupClicked);
    connect(nameList, &QComboBox::activated, this, &TextToSpeechView::namePopupClicked);

    refreshLanguages();
}

void TextToSpeechView::refreshLanguages()
{
    catalogue.refreshLanguages();
    showLists(0);
}

void TextToSpeechView::languagePopupClicked(int index)
{
    const Choice before = choice();
    catalogue.languagePopupClicked(index);
    // The catalogue rebuilds the genders only when the language differs from the saved one. A
    // chooser elsewhere (the overlay's) may have saved this language meanwhile, and the genders
    // and names shown would then still be the previous language's.
    if (selectedLocale() != before.locale)
        catalogue.refreshGenders();
    showLists(1);
    emitIfChanged(before);
}

void TextToSpeechView::genderPopupClicked(int index)
{
    const Choice before = choice();
    catalogue.genderPopupClicked(index);
    showLists(2);
    emitIfChanged(before);
}

void TextToSpeechView::namePopupClicked(int index)
{
    const Choice before = choice();
    catalogue.namePopupClicked(index);
    emitIfChanged(before);
}

TextToSpeechView::Choice TextToSpeechView::choice() const
{
    return {selectedLocale(), selectedVoice()};
}

void TextToSpeechView::emitIfChanged(const Choice &before)
{
    if (choice() != before)
        emit voiceChanged();
}

void TextToSpeechView::showLists(int from)
{
    const std::array<std::pair<QComboBox *, const VoiceCatalogue::PopupList *>, 3> lists = {{
        {languageList, &catalogue.languagePopup()},
        {genderList, &catalogue.genderPopup()},
        {nameList, &catalogue.namePopup()},
    }};
    const std::array<bool *, 3> remembered = {&languagePopupEnableStatus, &genderPopupEnableStatus,
                                              &namePopupEnableStatus};
    for (int i = from; i < int(lists.size()); ++i) {
        QComboBox *combo = lists[i].first;
        const VoiceCatalogue::PopupList &list = *lists[i].second;
        const QSignalBlocker blocker(combo);
        combo->clear();
        combo->addItems(list.items);
        combo->setCurrentIndex(list.selectedIndex);
        const bool usable = !list.items.isEmpty();
        // While the chooser is disabled, a refill changes only what enabling gives back.
        if (chooserEnabled)
            combo->setEnabled(usable);
        else
            *remembered[i] = usable;
    }
}

void TextToSpeechView::setChooserEnabled(bool enabled)
{
    if (enabled == chooserEnabled)
        return;
    chooserEnabled = enabled;
    if (!enabled) {
        languagePopupEnableStatus = languageList->isEnabled();
        genderPopupEnableStatus = genderList->isEnabled();
        namePopupEnableStatus = nameList->isEnabled();
        languageList->setEnabled(false);
        genderList->setEnabled(false);
        nameList->setEnabled(false);
        return;
    }
    languageList->setEnabled(languagePopupEnableStatus);
    genderList->setEnabled(genderPopupEnableStatus);
    nameList->setEnabled(namePopupEnableStatus);
}
