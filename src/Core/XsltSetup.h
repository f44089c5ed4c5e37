#pragma once

// Inside the XML layer only: the libxslt part of the one-time library set-up.
void InitializeXslt();
// Makes the XML libraries allocate through counting functions (transform bounds); before anything else.
void InstallXmlMemoryCount();
