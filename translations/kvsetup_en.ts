<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en_US" sourcelanguage="hu_HU">
<context>
    <name>Form_Main</name>
    <message>
        <location filename="../app/Main.ui" line="+12"/>
        <source>Készülék:</source>
        <translation>Device:</translation>
    </message>
    <message>
        <location line="+18"/>
        <source>Beállítások</source>
        <translation>Settings</translation>
    </message>
    <message>
        <location line="+10"/>
        <source>Készülék adatok:</source>
        <translation>Device data:</translation>
    </message>
    <message>
        <location line="+4"/>
        <source>Állapot:</source>
        <translation>Status:</translation>
    </message>
    <message>
        <location line="+14"/>
        <source>Mért fizikai érték:</source>
        <translation>Measured sensor value:</translation>
    </message>
    <message>
        <location line="+12"/>
        <source>Analóg kimenet százalék:</source>
        <translation>Analog output percentage:</translation>
    </message>
    <message>
        <location line="+18"/>
        <source>Rendszer információ:</source>
        <translation>System information:</translation>
    </message>
    <message>
        <location line="+3"/>
        <source>Förmver: </source>
        <translation>Firmware: </translation>
    </message>
    <message>
        <location line="+10"/>
        <source>Kalibrálás dátuma:</source>
        <translation>Calibration date:</translation>
    </message>
    <message>
        <location line="+10"/>
        <source>Üzemidő:</source>
        <translation>Operating time:</translation>
    </message>
    <message>
        <location line="+10"/>
        <source>Belső hőmérséklet max.:</source>
        <translation>Internal temp. max.:</translation>
    </message>
    <message>
        <location line="+12"/>
        <source>Belső hőmérséklet:</source>
        <translation>Internal temp.:</translation>
    </message>
    <message>
        <location line="+13"/>
        <source>Belső hőmérséklet min.:</source>
        <translation>Internal temp. min.:</translation>
    </message>
    <message>
        <location line="+12"/>
        <source>#1 RAM adat forrás:</source>
        <translation>#1 RAM data from:</translation>
    </message>
    <message>
        <location line="+10"/>
        <source>#2 RAM adat forrás:</source>
        <translation>#2 RAM data from:</translation>
    </message>
    <message>
        <location line="+11"/>
        <source>Újraindítás</source>
        <translation>Restart</translation>
    </message>
</context>
<context>
    <name>SettingsModel</name>
    <message>
        <location filename="../common/SettingsModel.cpp" line="+59"/>
        <source>Alacsony (3,2 mA)</source>
        <translation>Low (3.2 mA)</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>Magas (22 mA)</source>
        <translation>High (22 mA)</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>Alacsony (1,6 V)</source>
        <translation>Low (1.6 V)</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>Magas (11 V)</source>
        <translation>High (11 V)</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>Magas (5,5 V)</source>
        <translation>High (5.5 V)</translation>
    </message>
</context>
<context>
    <name>StatusTexts</name>
    <message>
        <location filename="../common/StatusTexts.cpp" line="+49"/>
        <source>Kalibrálatlan!</source>
        <translation>Uncalibrated!</translation>
    </message>
    <message>
        <location line="+5"/>
        <source>Gyári</source>
        <translation>Factory</translation>
    </message>
    <message>
        <location line="+17"/>
        <source>%1 nap, </source>
        <translation>%1 d, </translation>
    </message>
    <message>
        <location line="+4"/>
        <source>%1 óra, </source>
        <translation>%1 h, </translation>
    </message>
    <message>
        <location line="+3"/>
        <source>%1 perc, </source>
        <translation>%1 min, </translation>
    </message>
    <message>
        <location line="+9"/>
        <source>Hiba! Nincs adat.</source>
        <translation>Error! No data.</translation>
    </message>
    <message>
        <location line="+55"/>
        <source>Súlyos hiba</source>
        <translation>Serious error</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>Szenzor v. vezeték hiba</source>
        <translation>Sensor or wires error</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>Kalibrálatlan potenciométer</source>
        <translation>Uncalibrated potentiometer</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>Méréstartományon kívül esik</source>
        <translation>Out of measuring range</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>Kimenet tartományon kívül esik</source>
        <translation>Output out of range</translation>
    </message>
</context>
<context>
    <name>TForm_Main</name>
    <message>
        <location filename="../app/MainSettingsFile.cpp" line="+43"/>
        <source>Sikertelen mentés.
<byte value="xd"/>Ellenörizze, hogy nem írásvédett-e és van-e elég tárhely.</source>
        <translation>Saving failed.
Check that the file is not write-protected and that there is enough disk space.</translation>
    </message>
    <message>
        <location line="+2"/>
        <source>Ez nem KV5510 beállítás fájl vagy meghibásodott.</source>
        <translation>This is not a KV5510 settings file, or it is damaged.</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>A fájl hibás.</source>
        <translation>The file is damaged.</translation>
    </message>
    <message>
        <location line="+20"/>
        <source>Beállítás fájlba mentése</source>
        <translation>Save settings to file</translation>
    </message>
    <message>
        <location line="+0"/>
        <source>KV5510/KV7730 beállítás fájl (*.kvs)</source>
        <translation>KV5510/KV7730 settings file (*.kvs)</translation>
    </message>
    <message>
        <location line="+22"/>
        <source>Beállítás fájl megnyitása</source>
        <translation>Open settings file</translation>
    </message>
    <message>
        <location line="+0"/>
        <source>KV5510 Beállítás fájl (*.kvs)</source>
        <translation>KV5510 settings file (*.kvs)</translation>
    </message>
    <message>
        <location filename="../app/MainShell.cpp" line="+107"/>
        <source>KV5510 Beállító program   v%1   Varnel Kft.</source>
        <translation>KV5510 Setup Program   v%1   Varnel Kft.</translation>
    </message>
    <message>
        <location line="+2"/>
        <source>   Belépési szint = VARNEL</source>
        <translation>   Access level = VARNEL</translation>
    </message>
</context>
<context>
    <name>TabSheet_DeveloperTool</name>
    <message>
        <location filename="../app/DeveloperTool.ui" line="+297"/>
        <source>Teljes FRAM terület törlése (h&apos;ff&apos;-el feltöltés) -&gt; Reset (mintha soha sem lett volna még bemérve)</source>
        <translation>Erase the whole FRAM (fill with h&apos;ff&apos;) -&gt; Reset (as if never calibrated)</translation>
    </message>
    <message>
        <location line="+6"/>
        <source>Hőmérséklet minimum- és maximum értékek törlése</source>
        <translation>Clear the minimum and maximum temperatures</translation>
    </message>
</context>
<context>
    <name>TabSheet_Settings</name>
    <message>
        <location filename="../app/Settings.ui" line="+10"/>
        <source>Mért érték:</source>
        <translation>Measured value:</translation>
    </message>
    <message>
        <location line="+11"/>
        <source>Hidegpont hőmérséklete:</source>
        <translation>Cold-junction temperature:</translation>
    </message>
    <message>
        <location line="+13"/>
        <source>Üzemmód:</source>
        <translation>Input mode:</translation>
    </message>
    <message>
        <location line="+1"/>
        <location filename="../cli/KvCtlText.cpp" line="+17"/>
        <source>Hőmérséklet (Pt 100)</source>
        <translation>Temperature (Pt 100)</translation>
    </message>
    <message>
        <location line="+0"/>
        <location filename="../cli/KvCtlText.cpp" line="+1"/>
        <source>Hőmérséklet  (Pt 1000)</source>
        <translation>Temperature (Pt 1000)</translation>
    </message>
    <message>
        <location line="+0"/>
        <location filename="../cli/KvCtlText.cpp" line="+1"/>
        <source>Hőmérséklet  (Hőelem)</source>
        <translation>Temperature (thermocouple)</translation>
    </message>
    <message>
        <location line="+0"/>
        <location filename="../cli/KvCtlText.cpp" line="+1"/>
        <source>Potenciométer (0 - 500 ohm)</source>
        <translation>Potentiometer (0 - 500 ohm)</translation>
    </message>
    <message>
        <location line="+0"/>
        <location filename="../cli/KvCtlText.cpp" line="+1"/>
        <source>Potenciométer (0 - 5k ohm)</source>
        <translation>Potentiometer (0 - 5k ohm)</translation>
    </message>
    <message>
        <location line="+0"/>
        <location filename="../cli/KvCtlText.cpp" line="+1"/>
        <source>Ellenállás (0 - 500 ohm)</source>
        <translation>Resistance (0 - 500 ohm)</translation>
    </message>
    <message>
        <location line="+0"/>
        <location filename="../cli/KvCtlText.cpp" line="+1"/>
        <source>Ellenállás (0 - 5k ohm)</source>
        <translation>Resistance (0 - 5k ohm)</translation>
    </message>
    <message>
        <location line="+0"/>
        <location filename="../cli/KvCtlText.cpp" line="+1"/>
        <source>Feszültség (-100 mV - +100 mV)</source>
        <translation>Voltage (-100 mV - +100 mV)</translation>
    </message>
    <message>
        <location line="+5"/>
        <source>Vezeték:</source>
        <translation>Wires:</translation>
    </message>
    <message>
        <location line="+7"/>
        <source>Típus:</source>
        <translation>Type:</translation>
    </message>
    <message>
        <location line="+7"/>
        <source>Hidegpont kompenzálás:</source>
        <translation>Cold-junction compensation:</translation>
    </message>
    <message>
        <location line="+1"/>
        <location filename="../cli/KvCtlText.cpp" line="+3"/>
        <source>Belső</source>
        <translation>Internal</translation>
    </message>
    <message>
        <location line="+0"/>
        <location filename="../cli/KvCtlText.cpp" line="+1"/>
        <source>Külső Pt1000-rel</source>
        <translation>External, Pt1000</translation>
    </message>
    <message>
        <location line="+0"/>
        <location filename="../cli/KvCtlText.cpp" line="+1"/>
        <source>külső Pt100-zal</source>
        <translation>External, Pt100</translation>
    </message>
    <message>
        <location line="+0"/>
        <location filename="../cli/KvCtlText.cpp" line="+1"/>
        <source>Nincs</source>
        <translation>None</translation>
    </message>
    <message>
        <location line="+6"/>
        <source>Vezetékek ellenállása:</source>
        <translation>Wire resistance:</translation>
    </message>
    <message>
        <location line="+11"/>
        <source>Tárolás, mint 0 ohm</source>
        <translation>Store as 0 ohm</translation>
    </message>
    <message>
        <location line="+7"/>
        <source>Tárolt érték törlése</source>
        <translation>Clear stored value</translation>
    </message>
    <message>
        <location line="+7"/>
        <source>Potenciométer kalibrálás:</source>
        <translation>Potentiometer calibration:</translation>
    </message>
    <message>
        <location line="+4"/>
        <source>R a 0%-hoz =</source>
        <translation>R at 0% =</translation>
    </message>
    <message>
        <location line="+10"/>
        <source>R a 100%-hoz =</source>
        <translation>R at 100% =</translation>
    </message>
    <message>
        <location line="+10"/>
        <source>Tárolás, mint 0%</source>
        <translation>Store as 0%</translation>
    </message>
    <message>
        <location line="+6"/>
        <source>Tárolás, mint 100%</source>
        <translation>Store as 100%</translation>
    </message>
    <message>
        <location line="+6"/>
        <source>Gyári alapérték visszaállítása</source>
        <translation>Restore factory default</translation>
    </message>
    <message>
        <location line="+14"/>
        <source>Az analóg kimenet beállításai:</source>
        <translation>Analog output settings:</translation>
    </message>
    <message>
        <location line="+3"/>
        <source>Kimenet típusa:</source>
        <translation>Output type:</translation>
    </message>
    <message>
        <location line="+6"/>
        <source>Analóg kimenet skálázása:</source>
        <translation>Analog output scaling:</translation>
    </message>
    <message>
        <location line="+42"/>
        <source>Hibajelzés:</source>
        <translation>Error signal:</translation>
    </message>
    <message>
        <location line="+14"/>
        <source>Kimenet hibajelzés tiltása</source>
        <translation>Disable the output error signal</translation>
    </message>
    <message>
        <location line="+6"/>
        <source>Beállítás kiolvasása a készülékből, módosított beállítás beírása a készülékbe:</source>
        <translation>Read the settings from the device, write changed settings to the device:</translation>
    </message>
    <message>
        <location line="+3"/>
        <source>Beállítás kiolvasása a készülékből</source>
        <translation>Read settings from the device</translation>
    </message>
    <message>
        <location line="+7"/>
        <source>Gyári alapbeállítás kiolvasása a készülékből</source>
        <translation>Read factory settings from the device</translation>
    </message>
    <message>
        <location line="+7"/>
        <source>Beállítás beírása a készülékbe</source>
        <translation>Write settings to the device</translation>
    </message>
    <message>
        <location line="+7"/>
        <source>Fájl műveletek:</source>
        <translation>File operations:</translation>
    </message>
    <message>
        <location line="+3"/>
        <source>Beállítás fájl megnyitása (Open)</source>
        <translation>Open settings file</translation>
    </message>
    <message>
        <location line="+6"/>
        <source>Beállítás fájlba mentése (Save As)</source>
        <translation>Save settings to file</translation>
    </message>
</context>
<context>
    <name>WizardLog</name>
    <message>
        <location filename="../device/WizardLog.cpp" line="+12"/>
        <source>Lépés %1:</source>
        <translation>Step %1:</translation>
    </message>
</context>
<context>
    <name>kvsetup</name>
    <message>
        <location filename="../app/CommandLine.cpp" line="+60"/>
        <source>KV5510 Beállító program v%1</source>
        <translation>KV5510 Setup Program v%1</translation>
    </message>
</context>
</TS>
