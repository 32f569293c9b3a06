#pragma once

#include <QString>

// Texts that name the program.
namespace AppInfo {

inline const QString Title = QStringLiteral("KDM - просмотр отвесов и компонентов РД-718/24К");
inline const QString ProductName = QStringLiteral("Kadmira");
inline const QString ProductDescription =
    QStringLiteral("Просмотр отвесов и компонентов РД-718/24К");
inline const QString Version = QStringLiteral(KDM_VERSION);
inline const QString MakerSite = QStringLiteral("http://www.rd-terminal.example");

} // namespace AppInfo
