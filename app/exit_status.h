// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <algorithm>

namespace kronvik {

// kronvik-cli's exit statuses.
enum CliExitStatus : int {
    kAllDated = 0, // every picture was dated or passed over
    kNotAllDated = 1, // a rename was refused, a directory not searched (or held by another run)
    kUsageError = 2,
    kFileError = 3, // a file error ended the run
    kSignalBase = 128, // 128 + the signal that stopped the run: 130, 129, 143
};

// The status a run ends with. Everything that applies is raised into it, and the highest wins:
// a file error outranks a refused rename, a signal outranks both.
class RunStatus
{
public:
    void Raise(int status) { m_status = std::max(m_status, status); }
    int Value() const { return m_status; }

private:
    int m_status = kAllDated;
};

} // namespace kronvik
