// Ids of the test program's resources, shared by its script and its code.
#ifndef RESOURCE_IDS_H
#define RESOURCE_IDS_H

#define IDS_HELLO 1
#define IDS_QUOTE (IDS_HELLO + 1)
#define IDS_SECOND_BLOCK 17
#define IDB_LOGO 201
#define IDI_APP 301

int NotForTheResourceCompiler(void);

#endif
