<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="fr_FR">
<context>
    <name>EditorCore</name>
    <message>
        <source>the left box on the line</source>
        <translation>la case de gauche de la ligne</translation>
    </message>
    <message>
        <source>a point at the left of the horizon</source>
        <translation>un point à gauche de l’horizon</translation>
    </message>
    <message>
        <source>the right box on the line</source>
        <translation>la case de droite de la ligne</translation>
    </message>
    <message>
        <source>a point at the right of the horizon</source>
        <translation>un point à droite de l’horizon</translation>
    </message>
    <message>
        <source>the top-left box</source>
        <translation>la case en haut à gauche</translation>
    </message>
    <message>
        <source>the top-left corner of the trapezoid</source>
        <translation>le coin supérieur gauche du trapèze</translation>
    </message>
    <message>
        <source>the top-right box</source>
        <translation>la case en haut à droite</translation>
    </message>
    <message>
        <source>the top-right corner</source>
        <translation>le coin supérieur droit</translation>
    </message>
    <message>
        <source>the bottom-right box</source>
        <translation>la case en bas à droite</translation>
    </message>
    <message>
        <source>the bottom-right corner</source>
        <translation>le coin inférieur droit</translation>
    </message>
    <message>
        <source>the bottom-left box</source>
        <translation>la case en bas à gauche</translation>
    </message>
    <message>
        <source>the bottom-left corner</source>
        <translation>le coin inférieur gauche</translation>
    </message>
    <message>
        <source>Click a point on the picture</source>
        <translation>Cliquez sur un point de l’image</translation>
    </message>
    <message>
        <source>Click %1 on the picture</source>
        <translation>Cliquez sur %1 dans l’image</translation>
    </message>
    <message>
        <source>%1 points set: a click on the picture redraws the preview with the dialog&apos;s current settings (a change of sampling shows at that click); Appliquer keeps it</source>
        <translation>%1 points posés&#xa0;: un clic sur l’image recalcule l’aperçu avec les réglages actuels de la boîte de dialogue (un changement d’échantillonnage se voit à ce clic)&#xa0;; Appliquer le conserve</translation>
    </message>
    <message>
        <source>That click was not taken: first click %1 in the dialog, then %2 on the picture</source>
        <translation>Ce clic n’a pas été pris en compte&#xa0;: cliquez d’abord sur %1 dans la boîte de dialogue, puis sur %2 dans l’image</translation>
    </message>
    <message>
        <source>Click %1 in the dialog, then %2 on the picture</source>
        <translation>Cliquez sur %1 dans la boîte de dialogue, puis sur %2 dans l’image</translation>
    </message>
    <message>
        <source>Drag a rectangle on the picture, or type it in the dialog; Appliquer crops to it</source>
        <translation>Tracez un rectangle sur l’image, ou saisissez-le dans la boîte de dialogue&#xa0;; Appliquer recadre l’image selon lui</translation>
    </message>
    <message>
        <source>The preview is computed when the mouse releases the slider; Appliquer keeps it</source>
        <translation>L’aperçu est calculé quand la souris relâche le curseur&#xa0;; Appliquer le conserve</translation>
    </message>
    <message>
        <source>Working...</source>
        <translation>Traitement en cours…</translation>
    </message>
    <message>
        <source>Ready</source>
        <translation>Prêt</translation>
    </message>
    <message>
        <source>Crop to result is not offered: the correction&apos;s settings could not be read from its dialog</source>
        <translation>Recadrer sur le résultat n’est pas proposé : les réglages de la correction n’ont pas pu être lus dans sa boîte de dialogue</translation>
    </message>
    <message>
        <source>Crop to result is not offered: no pixel of the result was computed from inside the picture</source>
        <translation>Recadrer sur le résultat n’est pas proposé : aucun pixel du résultat n’a été calculé depuis l’intérieur de l’image</translation>
    </message>
</context>
<context>
    <name>Suggestions</name>
    <message>
        <source>too few straight lines</source>
        <translation>trop peu de lignes droites</translation>
    </message>
    <message>
        <source>lines disagree</source>
        <translation>les lignes ne concordent pas</translation>
    </message>
    <message>
        <source>verticals meet below the picture</source>
        <translation>les verticales se rejoignent sous l’image</translation>
    </message>
    <message>
        <source>verticals already parallel</source>
        <translation>verticales déjà parallèles</translation>
    </message>
    <message>
        <source>no room for two points</source>
        <translation>pas de place pour deux points</translation>
    </message>
</context>
<context>
    <name>talvine::editor::MainWindow</name>
    <message>
        <source>Talvine editor</source>
        <translation>Éditeur Talvine</translation>
    </message>
    <message>
        <source>&amp;File</source>
        <translation>&amp;Fichier</translation>
    </message>
    <message>
        <source>&amp;Open...</source>
        <translation>&amp;Ouvrir…</translation>
    </message>
    <message>
        <source>Open a picture</source>
        <translation>Ouvrir une image</translation>
    </message>
    <message>
        <source>Pictures (*.png *.jpg *.jpeg *.tif *.tiff *.webp)</source>
        <translation>Images (*.png *.jpg *.jpeg *.tif *.tiff *.webp)</translation>
    </message>
    <message>
        <source>Open &amp;recent</source>
        <translation>Fichiers &amp;récents</translation>
    </message>
    <message>
        <source>&amp;Save</source>
        <translation>&amp;Enregistrer</translation>
    </message>
    <message>
        <source>Save &amp;as...</source>
        <translation>Enregistrer &amp;sous…</translation>
    </message>
    <message>
        <source>&amp;Quit</source>
        <translation>&amp;Quitter</translation>
    </message>
    <message>
        <source>&amp;Edit</source>
        <translation>É&amp;dition</translation>
    </message>
    <message>
        <source>&amp;Undo</source>
        <translation>&amp;Annuler</translation>
    </message>
    <message>
        <source>Undone: %1</source>
        <translation>Annulé&#xa0;: %1</translation>
    </message>
    <message>
        <source>&amp;Redo</source>
        <translation>&amp;Rétablir</translation>
    </message>
    <message>
        <source>Redone: %1</source>
        <translation>Rétabli&#xa0;: %1</translation>
    </message>
    <message>
        <source>&amp;Crop to result...</source>
        <translation>&amp;Recadrer sur le résultat…</translation>
    </message>
    <message>
        <source>Crop to result, any &amp;proportion...</source>
        <translation>Recadrer sur le résultat, &amp;proportions libres…</translation>
    </message>
    <message>
        <source>&amp;View</source>
        <translation>&amp;Affichage</translation>
    </message>
    <message>
        <source>Zoom &amp;in</source>
        <translation>Zoom &amp;avant</translation>
    </message>
    <message>
        <source>Zoom &amp;out</source>
        <translation>Zoom a&amp;rrière</translation>
    </message>
    <message>
        <source>&amp;Actual size</source>
        <translation>&amp;Taille réelle</translation>
    </message>
    <message>
        <source>&amp;Fit</source>
        <translation>A&amp;juster à la fenêtre</translation>
    </message>
    <message>
        <source>Show &amp;grid</source>
        <translation>Afficher la &amp;grille</translation>
    </message>
    <message>
        <source>&amp;Help</source>
        <translation>A&amp;ide</translation>
    </message>
    <message>
        <source>&amp;About Talvine...</source>
        <translation>À &amp;propos de Talvine…</translation>
    </message>
    <message>
        <source>&amp;Undo %1</source>
        <translation>&amp;Annuler %1</translation>
    </message>
    <message>
        <source>&amp;Redo %1</source>
        <translation>&amp;Rétablir %1</translation>
    </message>
    <message>
        <source>Straightened: Edit &gt; Crop to result cuts away the corners that came from outside the picture</source>
        <translation>Redressée&#xa0;: Édition &gt; Recadrer sur le résultat retire les coins venus de l’extérieur de l’image</translation>
    </message>
    <message>
        <source>%1[*] - %2</source>
        <translation>%1[*] - %2</translation>
    </message>
    <message>
        <source>Untitled</source>
        <translation>Sans titre</translation>
    </message>
    <message>
        <source>%1 has changes that are not saved.</source>
        <translation>%1 a des modifications non enregistrées.</translation>
    </message>
    <message>
        <source>Save them first?</source>
        <translation>Les enregistrer d’abord&#xa0;?</translation>
    </message>
    <message>
        <source>A command is still open: apply or cancel its dialog first.</source>
        <translation>Une commande est encore ouverte&#xa0;: appliquez ou annulez d’abord sa boîte de dialogue.</translation>
    </message>
    <message>
        <source>Cannot open %1: %2</source>
        <translation>Impossible d’ouvrir %1&#xa0;: %2</translation>
    </message>
    <message>
        <source>the picture is %1 × %2 pixels (%3 megapixels); the editor takes pictures of up to %4 megapixels</source>
        <translation>l’image fait %1 × %2 pixels (%3 mégapixels)&#xa0;; l’éditeur accepte des images jusqu’à %4 mégapixels</translation>
    </message>
    <message>
        <source>not enough memory for a picture of %1 × %2 pixels</source>
        <translation>pas assez de mémoire pour une image de %1 × %2 pixels</translation>
    </message>
    <message>
        <source>its metadata could not be read and will not be saved</source>
        <translation>ses métadonnées n’ont pas pu être lues et ne seront pas enregistrées</translation>
    </message>
    <message>
        <source>not enough memory</source>
        <translation>pas assez de mémoire</translation>
    </message>
    <message>
        <source>Shown upright: its EXIF orientation says it is %1</source>
        <translation>Affichée droite&#xa0;: son orientation EXIF indique %1</translation>
    </message>
    <message>
        <source>%1 is a camera original.</source>
        <translation>%1 est un original de l’appareil photo.</translation>
    </message>
    <message>
        <source>Save the edited picture as a new file, or write over the original?</source>
        <translation>Enregistrer l’image modifiée dans un nouveau fichier, ou écraser l’original&#xa0;?</translation>
    </message>
    <message>
        <source>Save As...</source>
        <translation>Enregistrer sous…</translation>
    </message>
    <message>
        <source>Write Over</source>
        <translation>Écraser</translation>
    </message>
    <message>
        <source>Save the picture</source>
        <translation>Enregistrer l’image</translation>
    </message>
    <message>
        <source>JPEG quality</source>
        <translation>Qualité JPEG</translation>
    </message>
    <message>
        <source>Quality (the opened file&apos;s: %1):</source>
        <translation>Qualité (celle du fichier ouvert&#xa0;: %1)&#xa0;:</translation>
    </message>
    <message>
        <source>Quality:</source>
        <translation>Qualité&#xa0;:</translation>
    </message>
    <message>
        <source>Cannot save %1: %2</source>
        <translation>Impossible d’enregistrer %1&#xa0;: %2</translation>
    </message>
    <message>
        <source>the name must end in .png, .jpg, .jpeg, .tif, .tiff or .webp</source>
        <translation>le nom doit finir par .png, .jpg, .jpeg, .tif, .tiff ou .webp</translation>
    </message>
    <message>
        <source>EXIF</source>
        <translation>EXIF</translation>
    </message>
    <message>
        <source>colour profile</source>
        <translation>profil de couleur</translation>
    </message>
    <message>
        <source>XMP and IPTC</source>
        <translation>XMP et IPTC</translation>
    </message>
    <message>
        <source>%1 kept</source>
        <translation>%1 conservés</translation>
    </message>
    <message>
        <source>, </source>
        <translation>, </translation>
    </message>
    <message>
        <source>Saved %1: %2 × %3</source>
        <translation>Enregistré %1&#xa0;: %2 × %3</translation>
    </message>
    <message>
        <source>, JPEG quality %1</source>
        <translation>, qualité JPEG %1</translation>
    </message>
    <message>
        <source>Sample picture</source>
        <translation>Image d’exemple</translation>
    </message>
    <message>
        <source>About Talvine</source>
        <translation>À propos de Talvine</translation>
    </message>
    <message>
        <source>&lt;b&gt;Talvine&lt;/b&gt; %1.%2</source>
        <translation>&lt;b&gt;Talvine&lt;/b&gt; %1.%2</translation>
    </message>
    <message>
        <source>%1

The %2 menu comes from the plug-in module; this editor is its reference host.</source>
        <translation>%1

Le menu %2 vient du module externe&#xa0;; cet éditeur en est l’hôte de référence.</translation>
    </message>
    <message>
        <source>&amp;Upright</source>
        <translation>&amp;Redresser</translation>
    </message>
    <message>
        <source>&amp;Find lines</source>
        <translation>&amp;Chercher les lignes</translation>
    </message>
    <message>
        <source>Show detected &amp;lines</source>
        <translation>Afficher les &amp;lignes trouvées</translation>
    </message>
    <message>
        <source>No suggestion: %1</source>
        <translation>Aucune suggestion&#xa0;: %1</translation>
    </message>
    <message>
        <source>Upright needs the talvine tool, which was not found</source>
        <translation>Redresser a besoin de l’outil talvine, introuvable</translation>
    </message>
    <message>
        <source>Upright: levelled, verticals made vertical, cropped to the clean rectangle</source>
        <translation>Redresser&#xa0;: horizon mis de niveau, verticales redressées, image recadrée sur le rectangle propre</translation>
    </message>
    <message>
        <source>Upright: %1</source>
        <translation>Redresser&#xa0;: %1</translation>
    </message>
    <message>
        <source>Corrected: Edit &gt; Crop to result keeps the largest rectangle the correction computed from inside the picture</source>
        <translation>Corrigée : Édition &gt; Recadrer sur le résultat garde le plus grand rectangle que la correction a calculé depuis l’intérieur de l’image</translation>
    </message>
    <message>
        <source>Finding the picture&apos;s lines…</source>
        <translation>Recherche des lignes de l’image…</translation>
    </message>
    <message>
        <source>Straight lines found: %1; the level is %2 degrees</source>
        <translation>Lignes droites trouvées&#xa0;: %1&#xa0;; le niveau est de %2 degrés</translation>
    </message>
    <message>
        <source>Straight lines found: %1; no level: %2</source>
        <translation>Lignes droites trouvées&#xa0;: %1&#xa0;; pas de niveau&#xa0;: %2</translation>
    </message>
</context>
</TS>
