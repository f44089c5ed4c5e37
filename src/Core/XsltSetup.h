#pragma once

// Inside the XML layer only: the libxslt part of the one-time library set-up.
void InitializeXslt();
