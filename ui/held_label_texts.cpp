// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#include "held_label_texts.h"

#include <QCoreApplication>
#include <QFile>
#include <QLabel>

#include <algorithm>

namespace kronvik {

HeldLabelTexts::~HeldLabelTexts()
{
    if (m_holding && QCoreApplication::instance())
        QCoreApplication::instance()->removeEventFilter(this);
}

void HeldLabelTexts::Begin()
{
    if (m_holding)
        return;
    m_holding = true;
    // Every event of the application passes here before it reaches its object.
    QCoreApplication::instance()->installEventFilter(this);
}

void HeldLabelTexts::End()
{
    if (!m_holding)
        return;
    QCoreApplication::instance()->removeEventFilter(this);
    m_holding = false;
    Show();
}

void HeldLabelTexts::Hold(QLabel *label, std::string text)
{
    const auto held = std::find_if(m_texts.begin(), m_texts.end(),
                                   [label](const auto &entry) { return entry.first == label; });
    if (held != m_texts.end())
        held->second = std::move(text);
    else
        m_texts.emplace_back(label, std::move(text));
}

void HeldLabelTexts::Show()
{
    // Taken first: setting a text may deliver an event, which comes back here.
    const auto texts = std::exchange(m_texts, {});
    for (const auto &[label, text] : texts)
        label->setText(QFile::decodeName(QByteArray::fromStdString(text)));
}

bool HeldLabelTexts::eventFilter(QObject *watched, QEvent *event)
{
    if (!m_texts.empty())
        Show();
    return QObject::eventFilter(watched, event);
}

} // namespace kronvik
