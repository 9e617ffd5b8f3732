<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="hu_HU" sourcelanguage="en_US">
<context>
    <name>Certificate</name>
    <message>
        <location filename="../station/Certificate.cpp" line="+89"/>
        <source>nothing written (a verification writes nothing)</source>
        <translation>semmi sem íródott be (az ellenőrzés nem ír)</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>not written; the device keeps the calibration it had</source>
        <translation>nem íródott be; a készülék megtartja korábbi kalibrálását</translation>
    </message>
    <message>
        <location line="+2"/>
        <source>sent (command %1, %2 bytes) without acknowledgement; the device may hold the old or the new calibration</source>
        <translation>elküldve (%1. parancs, %2 bájt), nyugtázás nélkül; a készülékben a régi és az új kalibrálás is lehet</translation>
    </message>
    <message>
        <location line="+5"/>
        <source>written and acknowledged (command %1, %2 bytes)</source>
        <translation>beírva és nyugtázva (%1. parancs, %2 bájt)</translation>
    </message>
    <message>
        <location line="+8"/>
        <source>input: %1; output: %2</source>
        <translation>bemenet: %1; kimenet: %2</translation>
    </message>
    <message>
        <location line="+120"/>
        <source>Guarded acceptance (ILAC-G8): a point passes when |error| + U ≤ tolerance, fails when |error| &gt; tolerance, and is conditional between; a conditional point does not pass.</source>
        <translation>Védett elfogadás (ILAC-G8): egy pont megfelel, ha |hiba| + U ≤ tűrés, nem felel meg, ha |hiba| &gt; tűrés, a kettő között feltételes; a feltételes pont nem számít megfelelőnek.</translation>
    </message>
    <message>
        <location line="+4"/>
        <source>Simple acceptance (ILAC-G8): a point passes when |error| ≤ tolerance and fails otherwise; U is stated beside it.</source>
        <translation>Egyszerű elfogadás (ILAC-G8): egy pont megfelel, ha |hiba| ≤ tűrés, egyébként nem felel meg; U mellette szerepel.</translation>
    </message>
    <message>
        <location filename="../station/CertificatePdf.cpp" line="+155"/>
        <source>not given</source>
        <translation>nincs megadva</translation>
    </message>
    <message>
        <location line="+4"/>
        <source>PASSED</source>
        <translation>MEGFELELT</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>FAILED</source>
        <translation>NEM FELELT MEG</translation>
    </message>
    <message>
        <location line="+2"/>
        <source>ADJUSTED – FAILED VERIFICATION</source>
        <translation>BEÁLLÍTVA – AZ ELLENŐRZÉSEN NEM FELELT MEG</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>NOT COMPLETED</source>
        <translation>NEM FEJEZŐDÖTT BE</translation>
    </message>
    <message>
        <location line="+7"/>
        <source>input calibration: as found, adjustment, as left</source>
        <translation>a bemenet kalibrálása: mérés beállítás előtt, beállítás, mérés beállítás után</translation>
    </message>
    <message>
        <location line="+2"/>
        <source>output calibration: as found, adjustment, as left</source>
        <translation>a kimenet kalibrálása: mérés beállítás előtt, beállítás, mérés beállítás után</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>verification: as found, nothing adjusted</source>
        <translation>ellenőrzés: mérés, beállítás nélkül</translation>
    </message>
    <message>
        <location line="+2"/>
        <source>calibration of the input and the output: as found, adjustment, as left</source>
        <translation>a bemenet és a kimenet kalibrálása: mérés beállítás előtt, beállítás, mérés beállítás után</translation>
    </message>
    <message>
        <location line="+8"/>
        <source>not judged</source>
        <translation>nincs minősítve</translation>
    </message>
    <message>
        <location line="+2"/>
        <location line="+488"/>
        <source>pass</source>
        <translation>megfelelt</translation>
    </message>
    <message>
        <location line="-487"/>
        <source>conditional</source>
        <translation>feltételes</translation>
    </message>
    <message>
        <location line="+1"/>
        <location line="+487"/>
        <source>FAIL</source>
        <translation>NEM FELELT MEG</translation>
    </message>
    <message>
        <location line="-438"/>
        <source>not numbered</source>
        <translation>nincs számozva</translation>
    </message>
    <message>
        <location line="+1"/>
        <location line="+54"/>
        <source>Page %1 of %2</source>
        <translation>%1. oldal / %2</translation>
    </message>
    <message>
        <location line="-52"/>
        <source>Calibration laboratory</source>
        <translation>Kalibráló laboratórium</translation>
    </message>
    <message>
        <location line="+2"/>
        <location line="+45"/>
        <source>Certificate No. %1</source>
        <translation>Bizonyítvány száma: %1</translation>
    </message>
    <message>
        <location line="-36"/>
        <source>Calibration certificate</source>
        <translation>Kalibrálási bizonyítvány</translation>
    </message>
    <message>
        <location line="+6"/>
        <source>Calibration certificate (continued)</source>
        <translation>Kalibrálási bizonyítvány (folytatás)</translation>
    </message>
    <message>
        <location line="+6"/>
        <source>Verdict: %1</source>
        <translation>Minősítés: %1</translation>
    </message>
    <message>
        <location line="+27"/>
        <source>Not to be reproduced except in full.</source>
        <translation>Csak teljes terjedelmében másolható.</translation>
    </message>
    <message>
        <location line="+124"/>
        <source>Item calibrated</source>
        <translation>Kalibrált eszköz</translation>
    </message>
    <message>
        <location line="+4"/>
        <source>%1 min (%2 d %3 h %4 min)</source>
        <translation>%1 perc (%2 nap %3 óra %4 perc)</translation>
    </message>
    <message>
        <location line="+6"/>
        <location line="+70"/>
        <source>Instrument</source>
        <translation>Eszköz</translation>
    </message>
    <message>
        <location line="-69"/>
        <source>%1 temperature transmitter</source>
        <translation>%1 hőmérséklet-távadó</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>Serial number or tag</source>
        <translation>Sorozatszám vagy azonosító</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>PCB identity address</source>
        <translation>Panel azonosító címe</translation>
    </message>
    <message>
        <location line="+2"/>
        <source>Firmware</source>
        <translation>Förmver</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>Working time</source>
        <translation>Üzemidő</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>Port</source>
        <translation>Port</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>Calibration date before</source>
        <translation>Kalibrálás dátuma előtte</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>Calibration date after</source>
        <translation>Kalibrálás dátuma utána</translation>
    </message>
    <message>
        <location line="+5"/>
        <location line="+23"/>
        <source>not read</source>
        <translation>nincs kiolvasva</translation>
    </message>
    <message>
        <location line="-22"/>
        <source>uncalibrated</source>
        <translation>kalibrálatlan</translation>
    </message>
    <message>
        <location line="+4"/>
        <source>Laboratory and procedure</source>
        <translation>Laboratórium és eljárás</translation>
    </message>
    <message>
        <location line="+4"/>
        <source>Laboratory</source>
        <translation>Laboratórium</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>Address</source>
        <translation>Cím</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>Station</source>
        <translation>Állomás</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>Procedure</source>
        <translation>Eljárás</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>Performed</source>
        <translation>Elvégezve</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>Date of issue</source>
        <translation>Kiállítás dátuma</translation>
    </message>
    <message>
        <location line="+2"/>
        <source>Operator</source>
        <translation>Kezelő</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>Software</source>
        <translation>Szoftver</translation>
    </message>
    <message>
        <location line="+4"/>
        <source>Conditions</source>
        <translation>Körülmények</translation>
    </message>
    <message>
        <location line="+4"/>
        <source>Ambient</source>
        <translation>Környezet</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>Decision rule</source>
        <translation>Döntési szabály</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>guarded acceptance</source>
        <translation>védett elfogadás</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>simple acceptance</source>
        <translation>egyszerű elfogadás</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>Device temperature at start</source>
        <translation>A készülék hőmérséklete kezdetben</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>Device temperature at end</source>
        <translation>A készülék hőmérséklete a végén</translation>
    </message>
    <message>
        <location line="+4"/>
        <source>Measurement standards and traceability</source>
        <translation>Etalonok és visszavezethetőség</translation>
    </message>
    <message>
        <location line="+12"/>
        <source>Meter</source>
        <translation>Mérőműszer</translation>
    </message>
    <message>
        <location line="+2"/>
        <source>Source</source>
        <translation>Forrás</translation>
    </message>
    <message>
        <location line="+5"/>
        <source>No instrument recorded.</source>
        <translation>Nincs rögzített műszer.</translation>
    </message>
    <message>
        <location line="+4"/>
        <source>Identity or value</source>
        <translation>Azonosító vagy érték</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>Serial</source>
        <translation>Sorozatszám</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>Certificate</source>
        <translation>Bizonyítvány</translation>
    </message>
    <message>
        <location line="+1"/>
        <location line="+107"/>
        <location line="+169"/>
        <source>U (k = 2)</source>
        <translation>U (k = 2)</translation>
    </message>
    <message>
        <location line="-275"/>
        <source>Due</source>
        <translation>Esedékes</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>Measurement standards and traceability (continued)</source>
        <translation>Etalonok és visszavezethetőség (folytatás)</translation>
    </message>
    <message>
        <location line="+4"/>
        <source>No traceability was given for these instruments (no bench file): their values are as typed.</source>
        <translation>E műszerek visszavezethetősége nincs megadva (nincs állomásfájl): értékeik a begépeltek.</translation>
    </message>
    <message>
        <location line="+4"/>
        <source>The results are traceable to national measurement standards (SI) through the calibration certificates of the instruments listed, each within its due date when the run began.</source>
        <translation>Az eredmények a felsorolt műszerek kalibrálási bizonyítványain keresztül nemzeti etalonokra (SI) vezethetők vissza; a mérés kezdetekor egyik sem volt lejárt.</translation>
    </message>
    <message>
        <location line="+7"/>
        <source>Method and decision rule</source>
        <translation>Módszer és döntési szabály</translation>
    </message>
    <message>
        <location line="+2"/>
        <source>Error = reading − nominal. U is the expanded uncertainty of measurement (k = 2, about 95 % coverage) from the budget in annex A; TUR = tolerance / U. As found: before any adjustment; as left: after the device acknowledged the new record, in normal operation, at points independent of the adjustment&apos;s references.</source>
        <translation>Hiba = mért érték − névleges érték. U a kiterjesztett mérési bizonytalanság (k = 2, kb. 95 % lefedettség) az A melléklet mérlegéből; TUR = tűrés / U. Beállítás előtt: minden beállítás előtt; beállítás után: miután a készülék nyugtázta az új rekordot, normál üzemben, a beállítás referenciáitól független pontokban.</translation>
    </message>
    <message>
        <location line="+9"/>
        <source>Results</source>
        <translation>Eredmények</translation>
    </message>
    <message>
        <location line="+3"/>
        <source>No verification point was measured.</source>
        <translation>Egyetlen ellenőrző pont sem lett megmérve.</translation>
    </message>
    <message>
        <location line="+26"/>
        <location line="+29"/>
        <source>source: %1</source>
        <translation>forrás: %1</translation>
    </message>
    <message>
        <location line="-24"/>
        <source>expected %1</source>
        <translation>várt: %1</translation>
    </message>
    <message>
        <location line="+6"/>
        <source>not measured</source>
        <translation>nincs mérve</translation>
    </message>
    <message>
        <location line="+16"/>
        <location line="+162"/>
        <source>reading</source>
        <translation>mért</translation>
    </message>
    <message>
        <location line="-158"/>
        <location line="+94"/>
        <location line="+61"/>
        <source>as found</source>
        <translation>beállítás előtt</translation>
    </message>
    <message>
        <location line="-154"/>
        <location line="+95"/>
        <location line="+60"/>
        <source>as left</source>
        <translation>beállítás után</translation>
    </message>
    <message>
        <location line="-150"/>
        <source>Input: the device&apos;s calculated value</source>
        <translation>Bemenet: a készülék számított értéke</translation>
    </message>
    <message>
        <location line="+2"/>
        <source>Output: at the device&apos;s terminals</source>
        <translation>Kimenet: a készülék kapcsain</translation>
    </message>
    <message>
        <location line="+4"/>
        <location line="+172"/>
        <source>Point</source>
        <translation>Pont</translation>
    </message>
    <message>
        <location line="-171"/>
        <source>Nominal</source>
        <translation>Névleges</translation>
    </message>
    <message>
        <location line="+2"/>
        <source>Reading</source>
        <translation>Mért érték</translation>
    </message>
    <message>
        <location line="+1"/>
        <location line="+79"/>
        <location line="+2"/>
        <source>Error</source>
        <translation>Hiba</translation>
    </message>
    <message>
        <location line="-80"/>
        <source>% of span</source>
        <translation>% a tartományból</translation>
    </message>
    <message>
        <location line="+1"/>
        <location line="+80"/>
        <source>Tolerance</source>
        <translation>Tűrés</translation>
    </message>
    <message>
        <location line="-78"/>
        <location line="+169"/>
        <source>TUR</source>
        <translation>TUR</translation>
    </message>
    <message>
        <location line="-168"/>
        <location line="+78"/>
        <source>Result</source>
        <translation>Eredmény</translation>
    </message>
    <message>
        <location line="-77"/>
        <source>(continued)</source>
        <translation>(folytatás)</translation>
    </message>
    <message>
        <location line="+4"/>
        <source>Not verified</source>
        <translation>Nem ellenőrzött</translation>
    </message>
    <message>
        <location line="+7"/>
        <source>Adjustment</source>
        <translation>Beállítás</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>Record</source>
        <translation>Rekord</translation>
    </message>
    <message>
        <location line="+2"/>
        <source>Not written because</source>
        <translation>Nem íródott be, mert</translation>
    </message>
    <message>
        <location line="+3"/>
        <source>Values written</source>
        <translation>Beírt értékek</translation>
    </message>
    <message>
        <location line="+21"/>
        <source>Record bytes: %1</source>
        <translation>A rekord bájtjai: %1</translation>
    </message>
    <message>
        <location line="+6"/>
        <source>The adjustment&apos;s own checks</source>
        <translation>A beállítás saját ellenőrzései</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>Made with the references the adjustment used: they show the adjustment took, not that its references were right.</source>
        <translation>A beállításhoz használt referenciákkal készültek: azt mutatják, hogy a beállítás megtörtént, azt nem, hogy a referenciái helyesek voltak.</translation>
    </message>
    <message>
        <location line="+20"/>
        <source>not checked</source>
        <translation>nincs ellenőrizve</translation>
    </message>
    <message>
        <location line="+5"/>
        <source>Check</source>
        <translation>Ellenőrzés</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>Reference</source>
        <translation>Referencia</translation>
    </message>
    <message>
        <location line="+7"/>
        <source>The adjustment&apos;s own checks (continued)</source>
        <translation>A beállítás saját ellenőrzései (folytatás)</translation>
    </message>
    <message>
        <location line="+4"/>
        <source>Approval</source>
        <translation>Jóváhagyás</translation>
    </message>
    <message>
        <location line="+2"/>
        <source>The electronic record of this certificate is %1, SHA-256:</source>
        <translation>A bizonyítvány elektronikus példánya: %1, SHA-256:</translation>
    </message>
    <message>
        <location line="+5"/>
        <source>The results relate only to the item calibrated, at the time and under the conditions stated. This certificate shall not be reproduced except in full without the written approval of the laboratory.</source>
        <translation>Az eredmények csak a kalibrált eszközre vonatkoznak, a megadott időpontban és körülmények között. A bizonyítvány a laboratórium írásos engedélye nélkül csak teljes terjedelmében másolható.</translation>
    </message>
    <message>
        <location line="+12"/>
        <source>Performed by</source>
        <translation>Végezte</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>Reviewed by</source>
        <translation>Ellenőrizte</translation>
    </message>
    <message>
        <location line="+6"/>
        <source>Name</source>
        <translation>Név</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>Date</source>
        <translation>Dátum</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>Signature</source>
        <translation>Aláírás</translation>
    </message>
    <message>
        <location line="+31"/>
        <source>Annex A: uncertainty budgets</source>
        <translation>A melléklet: bizonytalansági mérlegek</translation>
    </message>
    <message>
        <location line="+23"/>
        <source>u (combined)</source>
        <translation>u (eredő)</translation>
    </message>
    <message>
        <location line="+4"/>
        <source>Largest contribution</source>
        <translation>Legnagyobb összetevő</translation>
    </message>
    <message>
        <location line="+1"/>
        <location line="+33"/>
        <source>Annex A (continued)</source>
        <translation>A melléklet (folytatás)</translation>
    </message>
    <message>
        <location line="-27"/>
        <source>Budget of %1, %2 (the quantity&apos;s smallest TUR)</source>
        <translation>%1, %2 mérlege (a mennyiség legkisebb TUR-ja)</translation>
    </message>
    <message>
        <location line="+9"/>
        <source>normal</source>
        <translation>normális</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>rectangular</source>
        <translation>egyenletes</translation>
    </message>
    <message>
        <location line="+4"/>
        <source>Combined standard uncertainty</source>
        <translation>Eredő standard bizonytalanság</translation>
    </message>
    <message>
        <location line="+3"/>
        <source>Expanded uncertainty U (k = %1)</source>
        <translation>Kiterjesztett bizonytalanság U (k = %1)</translation>
    </message>
    <message>
        <location line="+4"/>
        <source>Component</source>
        <translation>Összetevő</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>Value</source>
        <translation>Érték</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>Distribution</source>
        <translation>Eloszlás</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>Divisor</source>
        <translation>Osztó</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>Sensitivity</source>
        <translation>Érzékenység</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>Standard uncertainty</source>
        <translation>Standard bizonytalanság</translation>
    </message>
    <message>
        <location line="+25"/>
        <source>Annex B: log (%1 lines)</source>
        <translation>B melléklet: napló (%1 sor)</translation>
    </message>
    <message>
        <location line="+2"/>
        <source>none</source>
        <translation>nincs</translation>
    </message>
    <message>
        <location line="+25"/>
        <source>… %1 more lines in the JSON file</source>
        <translation>… további %1 sor a JSON-fájlban</translation>
    </message>
    <message>
        <location line="+14"/>
        <source>End of certificate %1</source>
        <translation>A(z) %1 bizonyítvány vége</translation>
    </message>
</context>
</TS>
