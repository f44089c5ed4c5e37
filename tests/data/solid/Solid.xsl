<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform">
<!-- A slide that is one colour from edge to edge: what the screen tests and benchmarks read back. -->
<xsl:output method="html" encoding="UTF-8"/>
<xsl:template match="/">
<html><head><meta charset="utf-8"/>
<style>html, body { margin: 0; height: 100%; background: <xsl:value-of select="Diapositive/Colour"/>; }</style>
</head><body></body></html>
</xsl:template>
</xsl:stylesheet>
