<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en">
<context>
    <name>MyWidget</name>
    <message>
        <source>Address:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Are you sure to close it?</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Baudrate:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Call</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Choose HexFile</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Clear</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Close</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>ComName:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Communication</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Communication </source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Down</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Down-Left</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Down-Right</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Download Error,Please restart.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Hex File Error,Please restart.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Erase All Error,Please restart.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Erase Command Error,Please restart.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Error</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Far</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Filp</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Get ID</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Home</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Left</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Lens</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Near</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Normal</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Open</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Open File</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>PT Reset</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Pan/Tilt</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Power Off</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Power On</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Preset</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Protocol:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Quillon Desk</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Read SN</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Read SW</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Receive</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Refresh </source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Right</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>SN</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Send</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Serial Port Error,Please restart.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Serial port error or machine failure,Please restart.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Set</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Set SN</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Setting</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Special</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Speed</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Stopbit:  </source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The serial number is less than 12 bits</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The serial number is less than 15 bits</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Tip</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Up</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Up-Left</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Up-Right</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Updata</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Zoom Reset</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Zoom Tele</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Zoom Wide</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Erase only the pages the firmware needs</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Read the firmware back after writing</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Bootloader at 115200 baud</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Failed: image refused</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Failed: identify</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Failed: read-back</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>All panels</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Done</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Failed</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Failed: port settings</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Failed: sync</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Failed: Get ID</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Failed: erase</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Failed: block at %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Failed: Go</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Failed: cannot read the file</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Failed: file line %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Failed: file</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Failed: port</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Another program holds %1 (%2). Close the port there, or choose another one.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>There is no device %1: %2.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>This user may not open %1: %2.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>This user may not open %1: %2. The device belongs to the group %3; to join it, run "sudo usermod -aG %3 $USER", then log out and in again.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1 did not open: %2.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The port is open already.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>No serial port is called "%1".</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The settings cannot be saved.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1 cannot be written: what you type into the window is lost when it closes. Start Quillon Desk from a folder you may write to.</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>aboutme</name>
    <message>
        <source>About</source>
        <translation type="unfinished"></translation>
    </message>
</context>
</TS>
