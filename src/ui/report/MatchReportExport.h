#pragma once

class TagTableScreen;

// 試合レポート: every tag of the open session with its match file's teams and
// periods, as an A4 PDF through a save panel (the open video's folder), its
// pages as NAME-1.png, ... and NAME.html beside it. The code window chosen
// gives the order of the codes and the possession groups.
void exportMatchReport(TagTableScreen& screen);
