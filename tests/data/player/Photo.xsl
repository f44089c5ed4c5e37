<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform">
  <xsl:output method="html" encoding="UTF-8"/>
  <xsl:template match="/">
    <html>
      <head><link rel="stylesheet" href="style.css"/></head>
      <body><img src="img/{Diapositive/image/@id}"/><p><xsl:value-of select="Diapositive/Caption"/></p></body>
    </html>
  </xsl:template>
</xsl:stylesheet>
