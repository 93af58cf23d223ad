/* The PACKET record of the Wintab interface for the packet layout that Qt's
   Windows platform plugin asks for (its PACKETDATA): the +dfsg source of
   qt6-base leaves out Qt's copy of pktdef.h. Fields follow the order of their
   PK_ bits, as Wintab lays a packet out. wintab.h comes from Wine's headers. */
#ifndef BRISKO_PKTDEF_H
#define BRISKO_PKTDEF_H

#if PACKETDATA != (PK_X | PK_Y | PK_BUTTONS | PK_NORMAL_PRESSURE | PK_TANGENT_PRESSURE | \
                   PK_ORIENTATION | PK_CURSOR | PK_Z | PK_TIME)
#error "this pktdef.h describes only the packet layout of Qt's Windows platform plugin"
#endif

typedef struct tagPACKET {
    DWORD pkTime;
    UINT pkCursor;
    DWORD pkButtons;
    LONG pkX;
    LONG pkY;
    LONG pkZ;
    UINT pkNormalPressure;
    UINT pkTangentPressure;
    ORIENTATION pkOrientation;
} PACKET, *PPACKET, *LPPACKET;

#endif
