// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <QObject>

#include <string>
#include <utility>
#include <vector>

class QLabel;

namespace kronvik {

// The texts a pass gives its status labels after every picture, held until something can see
// them: the next event the application delivers (a frame's painting, input, a timer, the close
// box, a screen reader's question) shows them first, and so does the end of the hold. Setting a
// label's text lays it out and tells the accessibility bridge, which for thousands of pictures
// a second that nobody sees was most of what the window added to a pass; code that reads a
// label only ever runs for an event, so it always finds the latest text.
class HeldLabelTexts : public QObject
{
public:
    ~HeldLabelTexts() override;

    // From here until End, Hold keeps the texts instead of setting them.
    void Begin();
    // Shows what is held and sets texts at once again.
    void End();
    bool IsHolding() const { return m_holding; }
    // `text` in the file system's encoding, as the engine gives it.
    void Hold(QLabel *label, std::string text);
    void Show();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    bool m_holding = false;
    std::vector<std::pair<QLabel *, std::string>> m_texts; // at most one a label
};

} // namespace kronvik
