#pragma once

#include <QString>
#include <QStringList>

// The terminal runs a command when a command word is written into its command register: the low
// byte is the command code, the high byte its parameter. The program sends one command only,
// "start input N" (code 01), with the input's index 0..23 as parameter.

constexpr int CommandCount = 24;
constexpr quint8 StartInputCommand = 0x01;

// (CommandCode mod 256) * 256 + 1: only the low 8 bits of the code enter the word.
quint16 CommandWord(qint32 CommandCode);

// "Старт Входа 1" for index 0 up to "Старт Входа 24" for index 23; an empty text for any other
// index (a code from a hand-edited configuration file has no entry).
QString commandListEntry(int index);
// All 24 entries in index order, as offered to the operator.
QStringList commandList();
