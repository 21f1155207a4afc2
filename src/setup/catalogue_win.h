// The component catalogue: component sections turned into list-view rows
// (the rows own their records), presence tests and row states.
#pragma once
#include <windows.h>
#include "setup/component.h"

// The list view that holds the rows, and the session's download folder.
// The download dialog binds them before adding components.
void BindCatalogue(HWND list, const char* downloadFolder);
// Inserts the three columns ("Component", "Size", "Status").
void InsertCatalogueColumns(HWND list);

// Reads one component section and appends its row; 0 when the section is
// left out (no name, "enable" 0, a section name over 71 characters, an INI
// path over 259, or no memory).
int AddComponent(const char* section, const char* iniPath);
int GetComponentCount();
// By DisplayOrder, once after all are added; equal orders keep the order in
// which the components were added.
void SortComponents();
int CALLBACK CompareDisplayOrder(LPARAM a, LPARAM b, LPARAM sortValue);

int GetProtocol(const Component* component);
// The download folder; "SourceDir" for "copy"; for "cdrom" the program's
// directory, which is the drive ("D:") for a program in the root of a drive.
void GetSourceDirectory(const Component* component, char* out, int size);
void GetSourcePath(const Component* component, const char* fileName, char* out, int size);
int IsAlreadyInstalled(const Component* component);
int AreFilesPresent(const Component* component);
void DecideInitialState(Component* component);
void GetStateText(const Component* component, HINSTANCE instance, char* buffer, int size);

Component* GetRowComponent(int row);
void SetRowState(int row, ComponentState state);
// The row that the fetch loop is working on, for SetCurrentState.
void SetCurrentRow(int row);
void SetCurrentState(ComponentState state);
// Frees every row's record (the dialog calls it on WM_DESTROY).
void FreeComponents();
