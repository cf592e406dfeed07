// Input rules shared by the program's windows: input that the operator did
// not aim at a control does nothing, and keys on buttons do what operators of
// instrument software expect.
#pragma once

class QWidget;

// Applies to every control of root's window that exists now (controls of
// other windows, such as a file dialog parented to it, keep their ways):
// - the mouse wheel acts only on the control that holds the focus: drop-down
//   lists, edit fields, scroll bars and spin boxes ignore it otherwise, and a
//   wheel never gives them the focus;
// - Enter (Return) on a focused push button clicks it, once per press (a
//   held key does not repeat the click). It does not make any button a
//   default button: Enter in a field stays the field's.
void ApplyOperatorInputRules(QWidget *root);
